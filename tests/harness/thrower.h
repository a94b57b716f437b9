// A DLL that throws across its boundary and fills caller-owned strings.
#pragma once
#include <string>

__declspec(dllexport) void ThrowBadAlloc();
__declspec(dllexport) void AppendTo(std::string& text, const char* piece);
