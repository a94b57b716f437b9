// Registration, subscription and delivery of bus messages. Handlers never run under the lock, so a
// handler may post, subscribe or register.
#include "MsgCenter.h"

#include <common/Log.h>

namespace {

bool PostToWindow(HWND window, WPARAM wParam, LPARAM lParam) {
    if (PostMessageW(window, WM_VELLIX, wParam, lParam))
        return true;
    Brimholt::Log << "PostMessage to the bus window failed: " << GetLastError() << std::endl;
    return false;
}

}  // namespace

int MsgCenter::RegisterObserver(HWND window, void* object) {
    WriteLock guard(lock_);
    int id = nextId_++;
    observers_[id] = Observer{window, object};
    return id;
}

void MsgCenter::UnregisterObserver(int& id) {
    WriteLock guard(lock_);
    for (auto& entry : subscriptions_) {
        Subscribers& subs = entry.second;
        for (auto it = subs.begin(); it != subs.end();)
            it = it->second == id ? subs.erase(it) : it + 1;
    }
    observers_.erase(id);
    id = -1;
}

void MsgCenter::Subscribe(int id, const std::string& name, VxMsgHandler handler) {
    WriteLock guard(lock_);
    subscriptions_[name].emplace_back(handler, id);
}

void* MsgCenter::GetObserverObject(int id) {
    ReadLock guard(lock_);
    auto it = observers_.find(id);
    return it == observers_.end() ? nullptr : it->second.object;
}

HWND MsgCenter::GetObserverWindow(int id) {
    ReadLock guard(lock_);
    auto it = observers_.find(id);
    return it == observers_.end() ? nullptr : it->second.window;
}

VxMsgHandler MsgCenter::GetHandler(int id, const std::string& name) {
    ReadLock guard(lock_);
    auto it = subscriptions_.find(name);
    if (it == subscriptions_.end())
        return nullptr;
    for (const auto& pair : it->second) {
        if (pair.second == id)
            return pair.first;
    }
    return nullptr;
}

// The reference is added before the post: once queued, the receiver may drop it at any moment.
// A failed post takes it back, so the caller still owns the message.
bool MsgCenter::PostTo(int id, VxMsg* msg) {
    HWND window = GetObserverWindow(id);
    if (!window)
        return false;
    VxMsgHandler handler = GetHandler(id, msg->name);
    if (!handler)
        return false;
    msg->refcount.fetch_add(1);
    if (!PostToWindow(window, reinterpret_cast<WPARAM>(msg), reinterpret_cast<LPARAM>(handler))) {
        msg->refcount.fetch_sub(1);
        return false;
    }
    return true;
}

// The message stays the sender's: keep is set so the receiver never deletes it. A window that did
// not run the handler (gone, or no observer) answers something other than 1.
bool MsgCenter::SendTo(int id, VxMsg* msg) {
    HWND window = GetObserverWindow(id);
    if (!window)
        return false;
    VxMsgHandler handler = GetHandler(id, msg->name);
    if (!handler)
        return false;
    msg->keep = 1;
    msg->refcount.fetch_add(1);
    LRESULT handled = SendMessageW(window, WM_VELLIX, reinterpret_cast<WPARAM>(msg), reinterpret_cast<LPARAM>(handler));
    if (handled != 1) {
        msg->refcount.fetch_sub(1);
        return false;
    }
    return true;
}

// The broadcaster holds one reference of its own while it posts, so a receiver on another thread
// that finishes early cannot delete the message under the loop. Only successful posts keep theirs.
bool MsgCenter::Broadcast(VxMsg* msg) {
    int posted = 0;
    msg->refcount.fetch_add(1);
    {
        ReadLock guard(lock_);
        auto it = subscriptions_.find(msg->name);
        if (it != subscriptions_.end()) {
            for (const auto& pair : it->second) {
                auto obs = observers_.find(pair.second);
                if (obs == observers_.end() || !obs->second.window)
                    continue;
                msg->refcount.fetch_add(1);
                if (PostToWindow(obs->second.window, reinterpret_cast<WPARAM>(msg),
                                 reinterpret_cast<LPARAM>(pair.first)))
                    ++posted;
                else
                    msg->refcount.fetch_sub(1);
            }
        }
    }
    if (posted == 0) {
        msg->refcount.fetch_sub(1);
        return false;
    }
    ReleaseMsg(msg);
    return true;
}

bool MsgCenter::PostJob(int id, VxHeapJob* job) {
    HWND window = GetObserverWindow(id);
    if (window && PostToWindow(window, 0, reinterpret_cast<LPARAM>(job)))
        return true;
    delete job;
    return false;
}
