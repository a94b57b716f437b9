// Pure path texts: parts, normalising, file-name cleaning and the long-path form.
#include "Path.h"

#include <vector>

#include "PathRoot.h"

namespace {

const size_t kShortDirectoryLimit = 248;

bool IsDriveAt(const std::wstring& path, size_t pos)
{
    if (path.size() < pos + 2 || path[pos + 1] != L':')
        return false;
    wchar_t c = path[pos];
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Length of the part a ".." may never remove: "C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\", a lone leading "\", or nothing for a relative path.
size_t RootLength(const std::wstring& path)
{
    PathPrefix prefix = ReadPathPrefix(path);
    size_t pos = prefix.length;
    if (prefix.unc) {
        size_t end = UncShareEnd(path, pos);
        return end == std::wstring::npos ? path.size() : end;
    }
    if (IsDriveAt(path, pos)) {
        pos += 2;
        if (pos < path.size() && path[pos] == L'\\')
            ++pos;
        return pos;
    }
    if (pos == 0 && !path.empty() && path[0] == L'\\')
        return 1;
    return pos;
}

}  // namespace

PathPrefix ReadPathPrefix(const std::wstring& path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return {8, true};
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return {4, false};
    if (path.compare(0, 2, L"\\\\") == 0)
        return {2, true};
    return {0, false};
}

size_t UncShareEnd(const std::wstring& path, size_t pos)
{
    size_t server = path.find(L'\\', pos);
    if (server == std::wstring::npos)
        return std::wstring::npos;
    size_t share = path.find(L'\\', server + 1);
    return share == std::wstring::npos ? path.size() : share + 1;
}

PathParts::PathParts(const std::wstring& path)
{
    size_t slash = path.rfind(L'\\');
    size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    folder = path.substr(0, nameStart);
    std::wstring file = path.substr(nameStart);
    size_t dot = file.rfind(L'.');
    if (dot == std::wstring::npos) {
        name = file;
    } else {
        name = file.substr(0, dot);
        extension = file.substr(dot + 1);
    }
}

void NormalizePath(std::wstring& path)
{
    if (path.size() < 2)
        return;
    size_t root = RootLength(path);
    bool absolute = root > 0;
    std::vector<std::wstring> kept;
    size_t start = root;
    for (;;) {
        size_t cut = path.find(L'\\', start);
        bool last = cut == std::wstring::npos;
        std::wstring part = path.substr(start, last ? std::wstring::npos : cut - start);
        // A "." or ".." that opens a relative path has no '\' before it and stays.
        bool dots = start > 0 && (part == L"." || part == L"..");
        if (!dots)
            kept.push_back(part);
        else if (part == L".." && !kept.empty() && kept.back() != L"..")
            kept.pop_back();
        else if (part == L".." && !absolute)
            kept.push_back(part);
        if (last)
            break;
        start = cut + 1;
    }
    std::wstring out = path.substr(0, root);
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            out += L'\\';
        out += kept[i];
    }
    path.swap(out);
}

void SanitizeFileName(std::wstring& name)
{
    for (wchar_t& c : name) {
        switch (c) {
            case L'\\':
            case L'/':
            case L':':
            case L'*':
            case L'?':
            case L'"':
            case L'<':
            case L'>':
            case L'|':
                c = L'_';
                break;
            default:
                // Control characters are no more valid in a Windows file name than the nine above.
                if (c > 0 && c < 0x20)
                    c = L'_';
                break;
        }
    }
}

std::wstring DirectoryCallPath(const std::wstring& path)
{
    std::wstring out = path;
    for (wchar_t& c : out)
        if (c == L'/')
            c = L'\\';
    if (out.size() < kShortDirectoryLimit || out.compare(0, 4, L"\\\\?\\") == 0)
        return out;
    if (out.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + out.substr(2);
    return L"\\\\?\\" + out;
}
