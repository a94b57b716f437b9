// The program's own file and folder, and folder trees, through the file system.
#include "Path.h"

#include <windows.h>

#include <mutex>
#include <vector>

#include "Log.h"
#include "PathRoot.h"

namespace {

std::once_flag g_folderOnce;
std::wstring g_folder;

// Where the first folder to create ends: after "C:\", "\\server\share\" or their "\\?\" forms.
size_t FirstCreatable(const std::wstring& path)
{
    PathPrefix prefix = ReadPathPrefix(path);
    if (prefix.unc)
        return UncShareEnd(path, prefix.length);
    size_t pos = prefix.length;
    if (path.size() >= pos + 2 && path[pos + 1] == L':')
        pos += 2;
    if (pos < path.size() && path[pos] == L'\\')
        ++pos;
    return pos;
}

// Created now or there before as a directory (some shares refuse CreateDirectoryW on an existing
// folder with another error than ERROR_ALREADY_EXISTS); a file of that name is a failure.
bool MakeDirectory(const std::wstring& path)
{
    if (CreateDirectoryW(path.c_str(), nullptr))
        return true;
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    Brimholt::Log << "CreateDirectoryW failed: " << error << std::endl;
    return false;
}

}  // namespace

bool GetModulePath(std::wstring& path)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return false;
        if (n < buffer.size())
            break;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        buffer.resize(buffer.size() * 2);
    }
    path.assign(buffer.data());
    NormalizePath(path);
    return true;
}

std::wstring ProgramFolder(const wchar_t* name)
{
    std::call_once(g_folderOnce, [] {
        std::wstring path;
        if (GetModulePath(path))
            g_folder = PathParts(path).folder;
        else
            Brimholt::Log << "GetModuleFileNameW failed: " << GetLastError() << std::endl;
    });
    std::wstring out = g_folder;
    if (name)
        out += name;
    return out;
}

bool CreateDirectoryTree(const std::wstring& path)
{
    if (path.empty())
        return false;
    std::wstring full = DirectoryCallPath(path);
    while (full.size() > 1 && full.back() == L'\\')
        full.pop_back();
    size_t pos = FirstCreatable(full);
    if (pos == std::wstring::npos)
        return false;
    while ((pos = full.find(L'\\', pos)) != std::wstring::npos) {
        if (!MakeDirectory(full.substr(0, pos)))
            return false;
        ++pos;
    }
    return MakeDirectory(full);
}
