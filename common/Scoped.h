// Scoped Win32 resources: a handle that closes itself and the lock guards, so that no early
// return leaks a handle or keeps a lock.
#pragma once

#include <windows.h>

// Treats both null and INVALID_HANDLE_VALUE as no handle: files use the one, events and threads
// the other.
class AutoHandle {
public:
    AutoHandle() = default;
    explicit AutoHandle(HANDLE handle) : handle_(handle) {}
    ~AutoHandle() { reset(); }
    AutoHandle(const AutoHandle&) = delete;
    AutoHandle& operator=(const AutoHandle&) = delete;
    AutoHandle(AutoHandle&& other) noexcept : handle_(other.release()) {}
    AutoHandle& operator=(AutoHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }
    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    // Closes the handle held; false when CloseHandle failed (a write-back that did not happen).
    bool reset(HANDLE handle = nullptr)
    {
        bool ok = true;
        if (valid() && handle != handle_)
            ok = CloseHandle(handle_) != FALSE;
        handle_ = handle;
        return ok;
    }

private:
    HANDLE handle_ = nullptr;
};

class CsGuard {
public:
    explicit CsGuard(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~CsGuard() { LeaveCriticalSection(&cs_); }
    CsGuard(const CsGuard&) = delete;
    CsGuard& operator=(const CsGuard&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

// Waits without a time-out: for mutexes whose holders never wait on the waiter.
class MutexGuard {
public:
    explicit MutexGuard(HANDLE mutex) : mutex_(mutex) { WaitForSingleObject(mutex_, INFINITE); }
    ~MutexGuard() { ReleaseMutex(mutex_); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    HANDLE mutex_;
};
