// What a download slot decides on its own: the folders and file names that "RenameType" gives a
// task's images, the extension of a saved image, and the header lines a task carries.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum class NamingScheme { Flat = 0, VolumeFolder = 1, ComicAndVolumeFolders = 2, ComicFolder = 3 };

// The scheme of a "RenameType" value; unknown values give the default.
NamingScheme NamingSchemeOf(int renameType);

// n <= 0: the task's folder part (appended to the download folder, ends in '\' unless empty);
// n >= 1: the stem of image n relative to the task's folder.
std::wstring NameImage(NamingScheme scheme, const std::wstring& title, const std::wstring& volume, int n);

// The extension of a saved image: by its exact Content-Type, else by the text after the last '.'
// of the address it came from.
std::wstring ImageExtension(const std::string& contentType, const std::string& requestUrl);

// A text answer (a site's error or log-in page sent with 200) is never a page image.
bool IsTextAnswer(const std::string& contentType);

// The path a file is saved under: "\\?\" in front from 260 characters on.
std::wstring SavePath(const std::wstring& path);

// One header a line, "Name: value"; empty lines and lines without ':' are skipped, values trimmed.
std::vector<std::pair<std::string, std::string>> ParseHeaderLines(const std::string& text);
