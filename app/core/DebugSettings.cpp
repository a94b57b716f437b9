// Developer settings: read once from "debug.ini"; diagnostic files are written on a thread of
// their own, fed by thread messages.
#include "DebugSettings.h"

#include "AppPath.h"

#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Path.h>

namespace {

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// The name comes from script data: it may name a file in "Save\" and nothing else.
AsyncWriteFile::AsyncWriteFile(std::wstring fileName, std::shared_ptr<std::string> data)
    : name(std::move(fileName)), bytes(std::move(data)) {
    SanitizeFileName(name);
}

void AsyncWriteFile::Run() {
    std::wstring target = GetAppPath(L"Save\\") + name;
    AutoHandle file(
        CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file)
        return;
    if (bytes && !bytes->empty()) {
        DWORD written = 0;
        WriteFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &written, nullptr);
    }
}

DebugSettings::DebugSettings() : path(GetAppPath(L"debug.ini")) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        path.clear();
        return;
    }
    present = true;
    CreateDirectoryW(GetAppPath(L"Save\\").c_str(), nullptr);
    Package = GetPrivateProfileIntW(L"Config", L"Package", 0, path.c_str()) != 0;
    SaveCloud = GetPrivateProfileIntW(L"Config", L"SaveCloud", 0, path.c_str()) != 0;
    SaveContext = GetPrivateProfileIntW(L"Config", L"SaveContext", 0, path.c_str()) != 0;
    SysProxy = GetPrivateProfileIntW(L"Config", L"SysProxy", 0, path.c_str()) != 0;
    StartWriter();
}

// Waits until the thread has its message queue: a post before that would fail with 1444.
void DebugSettings::StartWriter() {
    AutoHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
        Brimholt::Log << "CreateEvent for the developer writer failed: " << GetLastError() << std::endl;
        return;
    }
    thread.reset(CreateThread(nullptr, 0, TaskThread, ready.get(), 0, &threadId));
    if (!thread) {
        Brimholt::Log << "Developer writer thread not started: " << GetLastError() << std::endl;
        threadId = 0;
        return;
    }
    HANDLE waits[2] = {ready.get(), thread.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        thread.reset();
        threadId = 0;
    }
}

DebugSettings::~DebugSettings() {
    if (!thread)
        return;
    if (PostThreadMessageW(threadId, WM_QUIT, 0, 0))
        WaitForSingleObject(thread.get(), INFINITE);
    else
        Brimholt::Log << "Cannot stop the developer writer: " << GetLastError() << std::endl;
}

DWORD WINAPI DebugSettings::TaskThread(void* readyEvent) {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(static_cast<HANDLE>(readyEvent));
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_USER && msg.lParam) {
            auto* job = reinterpret_cast<DebugTask*>(msg.lParam);
            job->Run();
            delete job;
        }
    }
    // Jobs behind the quit request are not run, but they are still ours to free.
    while (PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE)) {
        if (msg.lParam)
            delete reinterpret_cast<DebugTask*>(msg.lParam);
    }
    return 0;
}

bool DebugSettings::Post(DebugTask* job) const {
    if (threadId && PostThreadMessageW(threadId, WM_USER, 0, reinterpret_cast<LPARAM>(job)))
        return true;
    delete job;
    return false;
}

std::wstring DebugSettings::GetStartCommand() const {
    if (path.empty())
        return std::wstring();
    wchar_t command[260] = L"";
    GetPrivateProfileStringW(L"Config", L"StartCommand", L"", command, 260, path.c_str());
    return command;
}

std::wstring DebugSettings::GetPackagePath(const char* host) const {
    if (!Package || !host)
        return std::wstring();
    std::wstring name = ToWide(host, CP_UTF8);
    SanitizeFileName(name);
    std::wstring package = GetAppPath(L"Packages\\") + name + L".vxpkg";
    return FileExists(package) ? package : std::wstring();
}

std::wstring DebugSettings::GetScriptOverride(const char* host, bool* use_proxy) const {
    if (use_proxy)
        *use_proxy = false;
    if (path.empty() || !host)
        return std::wstring();
    std::wstring key = ToWide(host, CP_ACP);
    if (use_proxy)
        *use_proxy = GetPrivateProfileIntW(L"Proxy", key.c_str(), 0, path.c_str()) != 0;
    wchar_t script[260] = L"";
    GetPrivateProfileStringW(L"Scripts", key.c_str(), L"", script, 260, path.c_str());
    return script[0] && FileExists(script) ? std::wstring(script) : std::wstring();
}

bool DebugSettings::ReadFullDump() {
    return GetPrivateProfileIntW(L"Config", L"FullDump", 0, GetAppPath(L"debug.ini").c_str()) != 0;
}
