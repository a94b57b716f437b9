// The message centre: observer ids to windows, message names to subscribed handlers.
#pragma once

#include "RwLock.h"
#include "VxMsg.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

class MsgCenter {
public:
    MsgCenter() = default;
    MsgCenter(const MsgCenter&) = delete;
    MsgCenter& operator=(const MsgCenter&) = delete;

    int RegisterObserver(HWND window, void* object);
    void UnregisterObserver(int& id);
    void Subscribe(int id, const std::string& name, VxMsgHandler handler);

    void* GetObserverObject(int id);
    HWND GetObserverWindow(int id);
    VxMsgHandler GetHandler(int id, const std::string& name);

    bool PostTo(int id, VxMsg* msg);
    bool SendTo(int id, VxMsg* msg);
    bool Broadcast(VxMsg* msg);
    bool PostJob(int id, VxHeapJob* job);

private:
    struct Observer {
        HWND window;
        void* object;
    };
    typedef std::vector<std::pair<VxMsgHandler, int>> Subscribers;

    RwLock lock_;
    std::map<std::string, Subscribers> subscriptions_;
    std::map<int, Observer> observers_;
};
