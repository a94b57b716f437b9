// Decoding of gzip (or zlib) response bodies.
#pragma once

#include <vector>

namespace Orvane {

// Replaces body with its decoded bytes; false leaves it untouched. A failed allocation throws.
bool DecodeGzip(std::vector<char>& body);

}  // namespace Orvane
