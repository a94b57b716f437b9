// Readers share one exclusive token: the first reader takes it for all, the last gives it back.
#include "RwLock.h"

RwLock::RwLock() {
    InitializeCriticalSection(&cs_);
    InitializeCriticalSection(&tokenLock_);
    InitializeConditionVariable(&tokenFree_);
}

RwLock::~RwLock() {
    DeleteCriticalSection(&tokenLock_);
    DeleteCriticalSection(&cs_);
}

void RwLock::TakeToken() {
    CsGuard guard(tokenLock_);
    while (tokenHeld_)
        SleepConditionVariableCS(&tokenFree_, &tokenLock_, INFINITE);
    tokenHeld_ = true;
}

void RwLock::GiveToken() {
    {
        CsGuard guard(tokenLock_);
        tokenHeld_ = false;
    }
    WakeConditionVariable(&tokenFree_);
}

// The first reader waits for the token while holding the critical section, so later readers queue
// behind it instead of slipping past a writer that holds the token.
void RwLock::BeginRead() {
    CsGuard guard(cs_);
    if (++readers_ == 1)
        TakeToken();
}

void RwLock::EndRead() {
    CsGuard guard(cs_);
    if (--readers_ == 0)
        GiveToken();
}

void RwLock::BeginWrite() {
    TakeToken();
}

void RwLock::EndWrite() {
    GiveToken();
}
