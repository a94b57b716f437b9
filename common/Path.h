// Windows path texts: splitting, normalising, file-name cleaning, the program folder and folder trees.
#pragma once

#include <string>

struct PathParts {
    explicit PathParts(const std::wstring& path);

    std::wstring folder;     // up to and including the last '\'
    std::wstring name;       // up to the last '.' after the folder
    std::wstring extension;  // after that '.'
};

// Drops "." components and resolves whole ".." components, never above the drive or UNC share.
void NormalizePath(std::wstring& path);

// Each of \ / : * ? " < > | and each control character 0x01 to 0x1F becomes '_'.
void SanitizeFileName(std::wstring& name);

// The form CreateDirectoryW needs: from 248 characters on (its limit), "\\?\" or "\\?\UNC\" in
// front; '/' become '\' either way.
std::wstring DirectoryCallPath(const std::wstring& path);

bool GetModulePath(std::wstring& path);
std::wstring ProgramFolder(const wchar_t* name = nullptr);
bool CreateDirectoryTree(const std::wstring& path);
