// The message bus: posting, sending and broadcasting with reference counts, heap jobs, and the
// observers' registration lifetime, with real windows on one and on several threads.
#include "CoreTestSupport.h"

#include <Messages.h>
#include <RwLock.h>

#include <gtest/gtest.h>

#include <condition_variable>

namespace {

class BusTest : public ::testing::Test {
protected:
    void SetUp() override {
        CountedMsg::live = 0;
        ctx.reset(new AppContext());
    }
    void TearDown() override {
        PumpPending();
        ctx.reset();
        EXPECT_EQ(CountedMsg::live.load(), 0) << "a message leaked or was deleted twice";
    }
    MsgCenter& bus() { return ctx->Messages(); }

    ScopedAppFolder folder;
    std::unique_ptr<AppContext> ctx;
};

// An observer window living on a thread of its own, with its own message loop.
class ThreadObserver {
public:
    explicit ThreadObserver(const std::vector<std::string>& names) {
        thread_ = std::thread([this, names] {
            TestObserver obs;
            obs.Register(names);
            {
                std::lock_guard<std::mutex> guard(lock_);
                observer_ = &obs;
                threadId_ = GetCurrentThreadId();
            }
            ready_.notify_all();
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0)
                DispatchMessageW(&msg);
            obs.Destroy();
            PumpPending();
        });
        std::unique_lock<std::mutex> guard(lock_);
        ready_.wait(guard, [this] { return observer_ != nullptr; });
    }
    ~ThreadObserver() {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    TestObserver& get() { return *observer_; }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    TestObserver* observer_ = nullptr;
    DWORD threadId_ = 0;
    std::thread thread_;
};

TEST_F(BusTest, PostRunsTheHandlerOnceAndFreesTheMessage) {
    TestObserver obs;
    obs.Register({"counted"});
    auto* msg = new CountedMsg();
    msg->value = 7;
    ASSERT_TRUE(bus().PostTo(obs.id, msg));
    EXPECT_EQ(msg->refcount.load(), 1);
    ASSERT_TRUE(PumpUntil([&] { return CountedMsg::live == 0; }));
    EXPECT_EQ(obs.received.load(), 1);
    EXPECT_EQ(obs.values, std::vector<int>{7});
}

TEST_F(BusTest, FailedPostsLeaveTheMessageWithTheCaller) {
    TestObserver obs;
    obs.Register({"counted"});
    TestObserver unsubscribed;
    unsubscribed.Register();
    // A window that never handles WM_DESTROY: its registration outlives it, so the post itself fails.
    HWND dead = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    int deadId = bus().RegisterObserver(dead, &obs);
    bus().Subscribe(deadId, "counted", MsgThunk<&TestObserver::OnCounted>);
    DestroyWindow(dead);

    struct Case {
        const char* what;
        int id;
        const char* name;
    } cases[] = {
        {"id never registered", 4000000, "counted"},
        {"name not subscribed", unsubscribed.id, "counted"},
        {"subscribed under another name", obs.id, "other"},
        {"window gone, post fails", deadId, "counted"},
    };
    for (const Case& c : cases) {
        CountedMsg msg(c.name);
        EXPECT_FALSE(bus().PostTo(c.id, &msg)) << c.what;
        EXPECT_EQ(msg.refcount.load(), 0) << c.what;
        EXPECT_FALSE(bus().SendTo(c.id, &msg)) << c.what;
        EXPECT_EQ(msg.refcount.load(), 0) << c.what;
    }
    PumpPending();
    EXPECT_EQ(obs.received.load(), 0);
}

TEST_F(BusTest, SendKeepsTheSendersMessageAndReturnsTheAnswer) {
    TestObserver obs;
    obs.Register({"counted"});
    obs.onMessage = [](CountedMsg* m) { m->value *= 10; };
    CountedMsg msg;  // not kept by its constructor: SendTo must keep it anyway
    for (int step = 1; step <= 3; ++step) {
        msg.value = step;
        ASSERT_TRUE(bus().SendTo(obs.id, &msg));
        EXPECT_EQ(msg.value, step * 10);
        EXPECT_EQ(msg.refcount.load(), 0);
        EXPECT_EQ(msg.keep, 1);
    }
    EXPECT_EQ(CountedMsg::live.load(), 1);
}

TEST_F(BusTest, SendFromAnotherThreadWaitsForTheReceiversThread) {
    TestObserver obs;
    obs.Register({"counted"});
    std::atomic<bool> sent{false};
    std::atomic<int> answer{0};
    std::thread sender([&] {
        CountedMsg msg;
        msg.value = 5;
        sent = bus().SendTo(obs.id, &msg);
        answer = msg.value;
    });
    obs.onMessage = [](CountedMsg* m) { m->value += 1; };
    ASSERT_TRUE(PumpUntil([&] { return obs.received == 1; }));
    sender.join();
    EXPECT_TRUE(sent.load());
    EXPECT_EQ(answer.load(), 6);
    EXPECT_EQ(obs.threads, std::vector<DWORD>{GetCurrentThreadId()});
}

TEST_F(BusTest, BroadcastReachesEverySubscriptionAndFreesTheMessageOnce) {
    TestObserver a, b, c;
    a.Register({"counted"});
    b.Register({"counted", "counted"});  // subscribed twice: receives it twice
    c.Register({"other"});
    auto* msg = new CountedMsg();
    ASSERT_TRUE(bus().Broadcast(msg));
    EXPECT_EQ(msg->refcount.load(), 3);
    ASSERT_TRUE(PumpUntil([&] { return CountedMsg::live == 0; }));
    EXPECT_EQ(a.received.load(), 1);
    EXPECT_EQ(b.received.load(), 2);
    EXPECT_EQ(c.received.load(), 0);
}

TEST_F(BusTest, BroadcastWithoutAReceiverLeavesTheMessageWithTheCaller) {
    TestObserver gone;
    gone.Register({"counted"});
    gone.Destroy();  // unregisters: the name's list stays, empty
    HWND dead = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    int deadId = bus().RegisterObserver(dead, nullptr);
    bus().Subscribe(deadId, "dead", MsgThunk<&TestObserver::OnCounted>);
    DestroyWindow(dead);

    for (const char* name : {"counted", "dead", "never-subscribed"}) {
        CountedMsg msg(name);
        EXPECT_FALSE(bus().Broadcast(&msg)) << name;
        EXPECT_EQ(msg.refcount.load(), 0) << name;
    }
}

TEST_F(BusTest, BroadcastSkipsADeadWindowAndStillReachesTheLiveOne) {
    TestObserver live;
    live.Register({"counted"});
    HWND dead = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    int deadId = bus().RegisterObserver(dead, nullptr);
    bus().Subscribe(deadId, "counted", MsgThunk<&TestObserver::OnCounted>);
    DestroyWindow(dead);
    auto* msg = new CountedMsg();
    ASSERT_TRUE(bus().Broadcast(msg));
    EXPECT_EQ(msg->refcount.load(), 1);
    ASSERT_TRUE(PumpUntil([&] { return CountedMsg::live == 0; }));
    EXPECT_EQ(live.received.load(), 1);
}

TEST_F(BusTest, AHandlerMayPostSubscribeAndRegister) {
    TestObserver first, second;
    first.Register({"counted"});
    second.Register();
    first.onMessage = [&](CountedMsg* m) {
        if (m->value >= 3)
            return;
        second.Subscribe("counted");  // takes the centre's exclusive side from inside a handler
        auto* next = new CountedMsg();
        next->value = m->value + 1;
        EXPECT_TRUE(bus().PostTo(first.id, next));
    };
    auto* msg = new CountedMsg();
    msg->value = 1;
    ASSERT_TRUE(first.Post(msg));
    ASSERT_TRUE(PumpUntil([&] { return first.received == 3 && CountedMsg::live == 0; }));
    EXPECT_EQ(first.values, (std::vector<int>{1, 2, 3}));
    EXPECT_NE(bus().GetHandler(second.id, "counted"), nullptr);
}

TEST_F(BusTest, PostsFromManyThreadsAllArriveOnTheWindowsThread) {
    TestObserver obs;
    obs.Register({"counted"});
    const int threads = 8, perThread = 200;
    std::vector<std::thread> posters;
    std::atomic<int> failed{0};
    for (int t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                auto* msg = new CountedMsg();
                msg->value = t;
                if (!bus().PostTo(obs.id, msg)) {
                    ++failed;
                    delete msg;
                }
            }
        });
    }
    for (auto& p : posters)
        p.join();
    ASSERT_TRUE(PumpUntil([&] { return obs.received == threads * perThread - failed; }, 20000));
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(CountedMsg::live.load(), 0);
    for (DWORD thread : obs.threads)
        ASSERT_EQ(thread, GetCurrentThreadId());
}

// Receivers on different threads drop their references at the same time: every message must
// be deleted exactly once, however the drops interleave.
TEST_F(BusTest, BroadcastsToWindowsOnSeveralThreadsDeleteEachMessageOnce) {
    std::vector<std::unique_ptr<ThreadObserver>> observers;
    for (int i = 0; i < 4; ++i)
        observers.emplace_back(new ThreadObserver({"counted"}));
    const int rounds = 500;
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                auto* msg = new CountedMsg();
                if (!bus().Broadcast(msg))
                    delete msg;
            }
        });
    }
    for (auto& s : senders)
        s.join();
    ASSERT_TRUE(PumpUntil([&] { return CountedMsg::live == 0; }, 20000)) << CountedMsg::live.load();
    for (auto& o : observers)
        EXPECT_EQ(o->get().received.load(), 3 * rounds);
    observers.clear();
}

TEST_F(BusTest, HeapJobsRunOnceAndAreFreed) {
    TestObserver obs;
    obs.Register();
    auto token = std::make_shared<int>(0);
    int runs = 0;
    DWORD ranOn = 0;
    ASSERT_TRUE(PostUiJob(obs.id, [token, &runs, &ranOn] {
        ++runs;
        ranOn = GetCurrentThreadId();
    }));
    std::thread other([&] { EXPECT_TRUE(obs.PostJob([token, &runs] { ++runs; })); });
    other.join();
    EXPECT_EQ(token.use_count(), 3);  // both jobs wait in the queue
    ASSERT_TRUE(PumpUntil([&] { return runs == 2; }));
    PumpPending();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(ranOn, GetCurrentThreadId());
    EXPECT_EQ(token.use_count(), 1);

    // An empty job is dropped, not thrown out of the window procedure.
    ASSERT_TRUE(PostUiJob(obs.id, VxHeapJob()));
    PumpPending();

    // Without a window the job is destroyed at once and never runs.
    EXPECT_FALSE(PostUiJob(4000000, [token, &runs] { ++runs; }));
    EXPECT_EQ(token.use_count(), 1);
    PumpPending();
    EXPECT_EQ(runs, 2);
}

struct JobTarget : TestObserver {
    void Add(int n) { sum += n; }
    int sum = 0;
};

TEST_F(BusTest, AHeapJobCanBindAMemberAndItsArgument) {
    JobTarget target;
    target.Register();
    ASSERT_TRUE(target.PostJob(&target, &JobTarget::Add, 5));
    ASSERT_TRUE(target.PostJob(&target, &JobTarget::Add, 37));
    ASSERT_TRUE(PumpUntil([&] { return target.sum == 42; }));
}

TEST_F(BusTest, DestroyingAWindowUnregistersItAndKeepsTheOthersOrder) {
    TestObserver a, b, c;
    a.Register({"x", "y"});
    b.Register({"x"});
    c.Register({"x"});
    int bId = b.id;
    VxMsgHandler handler = bus().GetHandler(a.id, "x");
    EXPECT_EQ(bus().GetObserverObject(bId), &b);
    b.Destroy();
    EXPECT_EQ(b.id, -1);
    EXPECT_EQ(bus().GetObserverWindow(bId), nullptr);
    EXPECT_EQ(bus().GetObserverObject(bId), nullptr);
    EXPECT_EQ(bus().GetHandler(bId, "x"), nullptr);
    EXPECT_EQ(bus().GetHandler(a.id, "x"), handler);
    EXPECT_EQ(bus().GetHandler(c.id, "x"), handler);

    auto* msg = new CountedMsg("x");
    ASSERT_TRUE(bus().Broadcast(msg));
    EXPECT_EQ(msg->refcount.load(), 2);
    ASSERT_TRUE(PumpUntil([&] { return CountedMsg::live == 0; }));
}

TEST_F(BusTest, MessagesQueuedForADestroyedWindowAreReleased) {
    TestObserver obs;
    obs.Register({"counted"});
    auto token = std::make_shared<int>(0);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(bus().PostTo(obs.id, new CountedMsg()));
    CountedMsg kept("counted", true);
    ASSERT_TRUE(bus().PostTo(obs.id, &kept));
    ASSERT_TRUE(obs.PostJob([token] {}));
    obs.Destroy();                          // before anything was pumped
    EXPECT_EQ(CountedMsg::live.load(), 1);  // only the kept one, which is ours
    EXPECT_EQ(kept.refcount.load(), 0);
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(obs.received.load(), 0);
}

// The main frame posts WM_QUIT in its WM_DESTROY; its children are destroyed (and drained) after.
TEST_F(BusTest, DrainingADestroyedWindowLeavesAPendingQuitForTheLoop) {
    for (int pending : {0, 3}) {
        SCOPED_TRACE(pending);
        TestObserver obs;
        obs.Register({"counted"});
        for (int i = 0; i < pending; ++i)
            ASSERT_TRUE(bus().PostTo(obs.id, new CountedMsg()));
        PostQuitMessage(7);
        obs.Destroy();
        EXPECT_EQ(CountedMsg::live.load(), 0);
        MSG msg;
        ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 7u);
    }
}

TEST_F(BusTest, ObserverIdsAreNeverReused) {
    TestObserver a;
    a.Register();
    int first = a.id;
    a.Destroy();
    TestObserver b;
    b.Register();
    EXPECT_GT(b.id, first);
    int next = bus().RegisterObserver(b.window, &b);
    EXPECT_EQ(next, b.id + 1);
    bus().UnregisterObserver(next);
    EXPECT_EQ(next, -1);
}

TEST_F(BusTest, PostingWithoutAContextFailsSafely) {
    TestObserver obs;
    obs.Register({"counted"});
    int id = obs.id;
    ctx.reset();  // the observer's window outlives the context
    EXPECT_FALSE(PostUiJob(id, [] {}));
    CountedMsg msg;
    EXPECT_FALSE(obs.Post(&msg));
    obs.Destroy();  // WM_DESTROY must not reach the destroyed centre
    EXPECT_EQ(obs.id, -1);
}

TEST(RwLockTest, ReadersShareAndAWriterWaitsForAllOfThem) {
    RwLock rw;
    std::atomic<int> inside{0}, maxInside{0};
    std::atomic<bool> writerIn{false}, overlap{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            ReadLock guard(rw);
            int now = ++inside;
            int seen = maxInside;
            while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {}
            if (writerIn)
                overlap = true;
            Sleep(100);
            --inside;
        });
    }
    Sleep(30);
    std::thread writer([&] {
        WriteLock guard(rw);
        writerIn = true;
        if (inside != 0)
            overlap = true;
        writerIn = false;
    });
    for (auto& r : readers)
        r.join();
    writer.join();
    EXPECT_GT(maxInside.load(), 1);
    EXPECT_FALSE(overlap.load());
}

}  // namespace

// The program's windows are found by fixed ids (0 the frame, 1 the panel, 2 the tab view): every
// centre numbers from 0, also the second one of a process.
TEST(BusNumbering, EveryCentreNumbersFromZero) {
    for (int round = 0; round < 2; ++round) {
        MsgCenter centre;
        for (int expected = 0; expected < 3; ++expected)
            EXPECT_EQ(centre.RegisterObserver(nullptr, nullptr), expected) << "round " << round;
    }
}
