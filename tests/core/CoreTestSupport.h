// Shared pieces of the application-core tests: a private program folder, message pumping, an
// observer window, and a watcher that answers message boxes.
#pragma once

#include <windows.h>

#include <AppContext.h>
#include <MsgCenter.h>
#include <VxMsg.h>

#include "LinuxTool.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A fresh folder that stands in for the program folder while the object lives.
class ScopedAppFolder {
public:
    ScopedAppFolder();
    ~ScopedAppFolder();
    const std::wstring& path() const { return path_; }
    std::wstring operator+(const wchar_t* name) const { return path_ + name; }

private:
    std::wstring path_;
};

using vxtest::WriteBytes;
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);

// Runs the thread's message loop until done() holds or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
void PumpPending();

// A message that counts its live instances, so a test sees leaks and double deletes.
class CountedMsg : public VxMsg {
public:
    explicit CountedMsg(const char* name = "counted", bool keep = false) : VxMsg(name, keep) { ++live; }
    ~CountedMsg() override { --live; }
    int value = 0;
    static std::atomic<int> live;
};

// A plain Win32 window that receives bus messages the way every observer window does.
class TestObserver : public VxMsgObserver {
public:
    TestObserver();
    ~TestObserver() override;

    // Registers with the context's centre and subscribes the given names to OnCounted.
    void Register(const std::vector<std::string>& names = {});
    void Subscribe(const std::string& name);
    void Destroy();

    void OnCounted(CountedMsg* msg);

    HWND window = nullptr;
    std::atomic<int> received{0};
    std::mutex lock;
    std::vector<int> values;
    std::vector<DWORD> threads;
    std::function<void(CountedMsg*)> onMessage;
};

// Finds the next dialog box of this process, keeps its caption and text, and presses a button.
class DialogAnswerer {
public:
    explicit DialogAnswerer(int button);
    ~DialogAnswerer();
    std::wstring Caption();
    std::wstring Text();

private:
    void Watch();

    int button_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::wstring caption_;
    std::wstring text_;
    std::thread thread_;
};
