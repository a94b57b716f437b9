// Naming of downloaded images, extensions and task header lines.
#include "ImageNaming.h"

#include <common/Path.h>
#include <common/StringUtil.h>

#include <cstdio>

namespace {

std::wstring S(std::wstring text) {
    SanitizeFileName(text);
    return text;
}

// A folder or file name whose end is a full stop or a blank loses it on Windows ("Vol." and "Vol"
// would be one folder): such trailing characters become '_'. An empty name becomes "_", so a
// missing comic or volume name never makes an empty path component.
std::wstring T(const std::wstring& text) {
    std::wstring out = S(text);
    if (out.empty())
        return L"_";
    for (size_t i = out.size(); i > 0 && (out[i - 1] == L'.' || out[i - 1] == L' '); --i)
        out[i - 1] = L'_';
    return out;
}

std::wstring Number(int n) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%04d", n);
    return text;
}

}  // namespace

NamingScheme NamingSchemeOf(int renameType) {
    switch (renameType) {
    case 0:
        return NamingScheme::Flat;
    case 2:
        return NamingScheme::ComicAndVolumeFolders;
    case 3:
        return NamingScheme::ComicFolder;
    default:
        return NamingScheme::VolumeFolder;
    }
}

std::wstring NameImage(NamingScheme scheme, const std::wstring& title, const std::wstring& volume, int n) {
    bool folder = n <= 0;
    switch (scheme) {
    case NamingScheme::Flat:
        return folder ? L"" : S(title + L"_" + volume + L"_") + Number(n);
    case NamingScheme::ComicAndVolumeFolders:
        return folder ? T(title) + L"\\" + T(volume) + L"\\" : Number(n);
    case NamingScheme::ComicFolder:
        return folder ? T(title) + L"\\" : T(volume) + L"_" + Number(n);
    case NamingScheme::VolumeFolder:
    default:
        return folder ? T(title + L"_" + volume) + L"\\" : Number(n);
    }
}

std::wstring ImageExtension(const std::string& contentType, const std::string& requestUrl) {
    static const struct {
        const char* type;
        const wchar_t* ext;
    } kTypes[] = {{"image/gif", L".gif"}, {"image/jpeg", L".jpg"}, {"image/png", L".png"}, {"image/webp", L".webp"}};
    for (const auto& t : kTypes)
        if (contentType == t.type)
            return t.ext;
    size_t dot = requestUrl.rfind('.');
    std::string after = dot == std::string::npos ? requestUrl : requestUrl.substr(dot + 1);
    return after == "webp" ? L".webp" : L".jpg";
}

bool IsTextAnswer(const std::string& contentType) {
    std::string type;
    for (char c : contentType.substr(0, contentType.find(';')))
        if (c != ' ' && c != '\t')
            type += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return type.compare(0, 5, "text/") == 0 || type == "application/xhtml+xml" || type == "application/json";
}

std::wstring SavePath(const std::wstring& path) {
    if (path.size() < 260 || path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    // The long form takes no '/' as a separator.
    std::wstring out = path;
    for (wchar_t& c : out)
        if (c == L'/')
            c = L'\\';
    if (out.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + out.substr(2);
    return L"\\\\?\\" + out;
}

std::vector<std::pair<std::string, std::string>> ParseHeaderLines(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> headers;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t colon = line.find(':');
        if (line.empty() || colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 1);
        TrimString(value);
        headers.emplace_back(line.substr(0, colon), value);
    }
    return headers;
}
