// Delivery of bus messages and heap jobs inside the receiving window's message map.
#include "VxMsg.h"

#include "AppContext.h"
#include "MsgCenter.h"

#include <common/Log.h>

#include <memory>

const UINT WM_VELLIX = RegisterWindowMessageW(L"WM_VELLIX");

void ReleaseMsg(VxMsg* msg) {
    if (msg->refcount.fetch_sub(1) == 1 && !msg->keep)
        delete msg;
}

bool PostUiJob(int observerId, VxHeapJob job) {
    auto* heapJob = new VxHeapJob(std::move(job));
    AppContextRef ctx;
    if (!ctx) {
        delete heapJob;
        return false;
    }
    return ctx->Messages().PostJob(observerId, heapJob);
}

bool VxMsgObserver::Post(VxMsg* msg) {
    AppContextRef ctx;
    return ctx && ctx->Messages().PostTo(id, msg);
}

namespace {

void RunHeapJob(VxHeapJob* raw) {
    std::unique_ptr<VxHeapJob> job(raw);
    // An empty job is a programming error; throwing out of a window procedure would end the process.
    if (*job)
        (*job)();
    else
        Brimholt::Log << "Empty heap job dropped" << std::endl;
}

// Messages still queued for a window that is going away would never be released otherwise.
// Wine hands out a pending WM_QUIT whatever the filter, and the main frame posts it in its own
// WM_DESTROY, before its children are drained: it goes back for the message loop.
void DrainQueued(HWND window) {
    MSG queued;
    bool quit = false;
    WPARAM quitCode = 0;
    while (PeekMessageW(&queued, window, WM_VELLIX, WM_VELLIX, PM_REMOVE)) {
        if (queued.message == WM_QUIT) {
            quit = true;
            quitCode = queued.wParam;
        } else if (queued.wParam)
            ReleaseMsg(reinterpret_cast<VxMsg*>(queued.wParam));
        else
            delete reinterpret_cast<VxHeapJob*>(queued.lParam);
    }
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace

bool VxMsgObserver::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_VELLIX) {
        result = 1;
        if (!wParam) {
            if (lParam)
                RunHeapJob(reinterpret_cast<VxHeapJob*>(lParam));
            return true;
        }
        auto* msg = reinterpret_cast<VxMsg*>(wParam);
        auto handler = reinterpret_cast<VxMsgHandler>(lParam);
        void* object = nullptr;
        {
            AppContextRef ctx;
            if (ctx)
                object = ctx->Messages().GetObserverObject(id);
        }
        // The handler may destroy this window and its object; nothing of them is touched after it.
        if (object && handler)
            handler(object, msg);
        ReleaseMsg(msg);
        return true;
    }
    if (message == WM_DESTROY && id != -1) {
        {
            AppContextRef ctx;
            if (ctx)
                ctx->Messages().UnregisterObserver(id);
            else
                id = -1;
        }
        DrainQueued(window);
    }
    return false;
}
