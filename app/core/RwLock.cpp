// Readers share one exclusive token: the first reader takes it for all, the last gives it back.
#include "RwLock.h"

#include <new>

RwLock::RwLock() : token_(CreateSemaphoreW(nullptr, 1, 1, nullptr)) {
    if (!token_)
        throw std::bad_alloc();
    InitializeCriticalSection(&cs_);
}

RwLock::~RwLock() {
    DeleteCriticalSection(&cs_);
}

// The first reader waits for the token while holding the critical section, so later readers queue
// behind it instead of slipping past a writer that holds the token.
void RwLock::BeginRead() {
    CsGuard guard(cs_);
    if (++readers_ == 1)
        WaitForSingleObject(token_.get(), INFINITE);
}

void RwLock::EndRead() {
    CsGuard guard(cs_);
    if (--readers_ == 0)
        ReleaseSemaphore(token_.get(), 1, nullptr);
}

void RwLock::BeginWrite() {
    WaitForSingleObject(token_.get(), INFINITE);
}

void RwLock::EndWrite() {
    ReleaseSemaphore(token_.get(), 1, nullptr);
}
