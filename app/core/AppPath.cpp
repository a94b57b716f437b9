// The program folder, with a seam for tests.
#include "AppPath.h"

#include <common/Path.h>

#include <mutex>

namespace {
std::mutex g_overrideLock;
std::wstring g_override;
}  // namespace

std::wstring GetAppPath(const wchar_t* name) {
    {
        std::lock_guard<std::mutex> guard(g_overrideLock);
        if (!g_override.empty())
            return name ? g_override + name : g_override;
    }
    return ProgramFolder(name);
}

void SetAppPathForTesting(const std::wstring& folder) {
    std::lock_guard<std::mutex> guard(g_overrideLock);
    g_override = folder;
}
