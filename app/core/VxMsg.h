// Bus messages, subscribed handlers, heap jobs and the observer base of every receiving window.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <type_traits>

// Every bus message and heap job travels as this registered window message.
extern const UINT WM_VELLIX;

class VxMsg {
public:
    explicit VxMsg(const char* msgName, bool keepFlag = false) : keep(keepFlag ? 1 : 0), name(msgName) {}
    virtual ~VxMsg() = default;
    VxMsg(const VxMsg&) = delete;
    VxMsg& operator=(const VxMsg&) = delete;

    unsigned char keep;
    const std::string name;
    std::atomic<int> refcount{0};
};

// Drops the reference a delivery held; the last one deletes the message unless it is kept.
void ReleaseMsg(VxMsg* msg);

// A handler gets the object its observer registered and the message.
typedef void (*VxMsgHandler)(void* object, VxMsg* msg);

typedef std::function<void()> VxHeapJob;

namespace vx_detail {
template <class T, class M> T* ClassOf(void (T::*)(M*));
template <class T, class M> M* MsgOf(void (T::*)(M*));
}  // namespace vx_detail

// MsgThunk<&CMainFrame::OnGrab> turns a member taking its msg_ class into a VxMsgHandler; the
// observer must have registered the full object (T*) with the centre.
template <auto Fn>
void MsgThunk(void* object, VxMsg* msg) {
    using T = std::remove_pointer_t<decltype(vx_detail::ClassOf(Fn))>;
    using M = std::remove_pointer_t<decltype(vx_detail::MsgOf(Fn))>;
    (static_cast<T*>(object)->*Fn)(static_cast<M*>(msg));
}

// Posts a heap job to an observer's window; without a window (or when the post fails) the job is
// destroyed and false returned. Safe on any thread, also while the context goes away.
bool PostUiJob(int observerId, VxHeapJob job);

class VxMsgObserver {
public:
    VxMsgObserver() = default;
    virtual ~VxMsgObserver() = default;

    // Chained first into the window's message map.
    bool OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    bool Post(VxMsg* msg);
    bool PostJob(VxHeapJob job) { return PostUiJob(id, std::move(job)); }

    template <class T, class A, class V>
    bool PostJob(T* self, void (T::*fn)(A), V&& arg) {
        return PostUiJob(id, [self, fn, a = std::decay_t<A>(std::forward<V>(arg))]() mutable { (self->*fn)(a); });
    }

    int id = -1;
};
