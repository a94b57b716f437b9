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
    // Each centre numbers from 0: the frame, the panel and the tab view are 0, 1 and 2 in every
    // run, also in a test process that builds the program more than once.
    int nextId_ = 0;
    std::map<std::string, Subscribers> subscriptions_;
    std::map<int, Observer> observers_;
};
