// Reading a whole file into memory, for the files that are loaded at once (scripts, language
// files, favorites, the HTML engine's local resources).
#pragma once

#include <windows.h>

#include <string>

// The bytes of the file at path, which may hold at most maxBytes. ERROR_SUCCESS, or the Win32
// error that stopped the read (ERROR_FILE_TOO_LARGE for a file over the cap); bytes is empty then.
DWORD ReadFileBytes(const std::wstring& path, size_t maxBytes, std::string& bytes);

// Writes the bytes to path + ".tmp" and moves that over path in one step, so a failed write leaves
// the previous file whole. False (with the Win32 error set) when the file is not in place.
bool WriteFileReplacing(const std::wstring& path, const std::string& bytes);
