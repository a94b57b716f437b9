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
    void TakeToken();
    void GiveToken();

    CRITICAL_SECTION cs_;
    LONG readers_ = 0;
    // The exclusive token, given back by whichever thread ends the hold. A flag with a condition
    // rather than a kernel semaphore: under Wine every semaphore wait and release is a round trip
    // to the server, and the message centre takes this lock several times for each message.
    CRITICAL_SECTION tokenLock_;
    CONDITION_VARIABLE tokenFree_;
    bool tokenHeld_ = false;
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
