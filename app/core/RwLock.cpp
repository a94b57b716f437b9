// Readers share one exclusive token: the first reader takes it for all, the last gives it back.
#include "RwLock.h"

#include <new>

RwLock::RwLock() {
    InitializeCriticalSection(&cs_);
    token_ = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    if (!token_) {
        DeleteCriticalSection(&cs_);
        throw std::bad_alloc();
    }
}

RwLock::~RwLock() {
    CloseHandle(token_);
    DeleteCriticalSection(&cs_);
}

// The first reader waits for the token while holding the critical section, so later readers queue
// behind it instead of slipping past a writer that holds the token.
void RwLock::BeginRead() {
    EnterCriticalSection(&cs_);
    if (++readers_ == 1)
        WaitForSingleObject(token_, INFINITE);
    LeaveCriticalSection(&cs_);
}

void RwLock::EndRead() {
    EnterCriticalSection(&cs_);
    if (--readers_ == 0)
        ReleaseSemaphore(token_, 1, nullptr);
    LeaveCriticalSection(&cs_);
}

void RwLock::BeginWrite() {
    WaitForSingleObject(token_, INFINITE);
}

void RwLock::EndWrite() {
    ReleaseSemaphore(token_, 1, nullptr);
}
