// Window bits 47 let zlib detect a gzip or a zlib header. Only a clean end of stream counts:
// every other result (a preset dictionary, a truncated stream, corrupt data) leaves the body as it was.
#include "Inflate.h"

#include <zlib.h>

namespace Orvane {

bool DecodeGzip(std::vector<char>& body)
{
    z_stream zs = {};
    if (inflateInit2(&zs, 47) != Z_OK) return false;
    zs.next_in = reinterpret_cast<Bytef*>(body.data());
    zs.avail_in = static_cast<uInt>(body.size());

    std::vector<char> out;
    int result = Z_OK;
    try {
        char chunk[4096];
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk);
            zs.avail_out = sizeof chunk;
            result = inflate(&zs, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END) break;
            out.insert(out.end(), chunk, chunk + (sizeof chunk - zs.avail_out));
        } while (result != Z_STREAM_END);
    } catch (...) {
        inflateEnd(&zs);
        throw;
    }
    inflateEnd(&zs);
    if (result != Z_STREAM_END) return false;
    body.swap(out);
    return true;
}

}  // namespace Orvane
