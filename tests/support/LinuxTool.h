// Runs a Linux program from a test under Wine and waits for it: fixtures made and results checked
// by another reader (Python's sqlite3 and zipfile, the sqlite3 tool), and the files handed to them.
// Link the target vx_linuxtool.
#pragma once

#include <string>
#include <vector>

namespace vxtest {

// The Linux path of a Windows path (Wine's drive mapping); empty outside Wine.
std::string UnixPath(const std::wstring& windowsPath);

// The DOS name of a Linux path (Z:\...); empty outside Wine.
std::wstring DosName(const std::string& unixPath);

// A Linux path that no other process of this or any other test uses (each call a new one);
// empty outside Wine.
std::string ScratchPath(const char* kind, const char* extension);

// Runs argv[0] (an absolute Linux path) with the other arguments and waits up to timeoutMs.
// True when it exited with 0; its standard output lands in out, and error says what went wrong
// (with the program's standard error).
bool RunLinux(const std::vector<std::string>& argv, std::string* out, std::string* error,
              unsigned timeoutMs = 60000);

// Writes bytes as the whole file at path; false when it could not.
bool WriteBytes(const std::wstring& path, const std::string& bytes);

// "/usr/bin/python3", or VELLIX_PYTHON when set.
std::string PythonPath();

}  // namespace vxtest
