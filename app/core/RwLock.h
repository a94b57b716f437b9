// Readers/writer lock shared by the message centre, the script manager and the database queue.
#pragma once

#include <common/Scoped.h>

#include <windows.h>

class RwLock {
public:
    RwLock();
    ~RwLock();
    RwLock(const RwLock&) = delete;
    RwLock& operator=(const RwLock&) = delete;

    void BeginRead();
    void EndRead();
    void BeginWrite();
    void EndWrite();

private:
    CRITICAL_SECTION cs_;
    LONG readers_ = 0;
    AutoHandle token_;
};

class ReadLock {
public:
    explicit ReadLock(RwLock& lock) : lock_(lock) { lock_.BeginRead(); }
    ~ReadLock() { lock_.EndRead(); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    RwLock& lock_;
};

class WriteLock {
public:
    explicit WriteLock(RwLock& lock) : lock_(lock) { lock_.BeginWrite(); }
    ~WriteLock() { lock_.EndWrite(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    RwLock& lock_;
};
