// The start of a path that both the pure path code and the folder creation read alike: the
// "\\?\", "\\?\UNC\" or "\\" prefix, and the end of a UNC server and share.
#pragma once

#include <string>

struct PathPrefix {
    size_t length;  // of the prefix; 0 when there is none
    bool unc;       // a server and share follow
};

PathPrefix ReadPathPrefix(const std::wstring& path);
// After a UNC prefix that ends at pos: the end of "server\share\" (the whole path when the share
// has no '\' after it), or npos when no '\' follows the server.
size_t UncShareEnd(const std::wstring& path, size_t pos);
