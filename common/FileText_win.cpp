// The one whole-file reader; also compiled into the HTML engine, which links no other helper.
#include "FileText.h"

#include "Scoped.h"

#include <algorithm>

namespace {

const DWORD kChunk = 1 << 20;

DWORD ReadAll(HANDLE file, size_t maxBytes, std::string& bytes)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size))
        return GetLastError();
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return ERROR_FILE_TOO_LARGE;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t got = 0;
    while (got < bytes.size()) {
        DWORD read = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, kChunk));
        if (!ReadFile(file, &bytes[got], want, &read, nullptr))
            return GetLastError();
        if (read == 0)
            return ERROR_HANDLE_EOF;  // the file shrank under us
        got += read;
    }
    return ERROR_SUCCESS;
}

}  // namespace

// Others may keep the file open for writing (an editor, a download in progress): the size read
// here is the size taken.
DWORD ReadFileBytes(const std::wstring& path, size_t maxBytes, std::string& bytes)
{
    bytes.clear();
    AutoHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return GetLastError();
    DWORD error = ReadAll(file.get(), maxBytes, bytes);
    if (error != ERROR_SUCCESS)
        bytes.clear();
    return error;
}

bool WriteFileReplacing(const std::wstring& path, const std::string& bytes)
{
    std::wstring temp = path + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.size() <= MAXDWORD &&
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    ok = CloseHandle(file) && ok;
    if (ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DWORD error = GetLastError();
    DeleteFileW(temp.c_str());
    SetLastError(error);
    return false;
}
