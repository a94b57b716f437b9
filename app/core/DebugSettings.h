// Developer switches from "debug.ini" beside the program, and the writer thread that saves
// diagnostic files into "Save\".
#pragma once

#include <common/Scoped.h>

#include <windows.h>

#include <memory>
#include <string>

class DebugTask {
public:
    virtual ~DebugTask() = default;
    virtual void Run() = 0;
};

class AsyncWriteFile : public DebugTask {
public:
    AsyncWriteFile(std::wstring fileName, std::shared_ptr<std::string> data);
    void Run() override;

    std::wstring name;
    std::shared_ptr<std::string> bytes;
};

class DebugSettings {
public:
    DebugSettings();
    ~DebugSettings();
    DebugSettings(const DebugSettings&) = delete;
    DebugSettings& operator=(const DebugSettings&) = delete;

    std::wstring GetStartCommand() const;
    std::wstring GetPackagePath(const char* host) const;
    std::wstring GetScriptOverride(const char* host, bool* use_proxy) const;
    static bool ReadFullDump();

    // Hands a job to the writer thread, which owns it from then on; without the thread, or when
    // the post fails, the job is deleted and false returned.
    bool Post(DebugTask* job) const;

    std::wstring path;  // empty: no developer settings
    AutoHandle thread;
    DWORD threadId = 0;
    bool present = false;
    bool Package = false;
    bool SaveCloud = false;
    bool SaveContext = false;
    bool SysProxy = false;

private:
    void StartWriter();
    static DWORD WINAPI TaskThread(void* readyEvent);
};
