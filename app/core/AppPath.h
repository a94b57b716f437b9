// The program folder as the application core sees it. Tests point it at a folder of their own.
#pragma once

#include <string>

// The program folder (with its trailing '\') followed by name when it is not null.
std::wstring GetAppPath(const wchar_t* name = nullptr);

// A non-empty folder (ending in '\') replaces the program folder for this process; empty restores it.
void SetAppPathForTesting(const std::wstring& folder);
