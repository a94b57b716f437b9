// The application context: construction and destruction order, publication to other threads,
// the once-only download manager and the reported names.
#include "CoreTestSupport.h"

#include <DebugSettings.h>
#include <LanguageTranslator.h>
#include <VxDownloadMgr.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct Event {
    std::string member;
    bool built;
    bool published;  // whether the context was reachable at that moment
};

std::mutex g_eventsLock;
std::vector<Event> g_events;
const char* g_failAfter = nullptr;

void Record(const char* member, bool built) {
    {
        std::lock_guard<std::mutex> guard(g_eventsLock);
        g_events.push_back({member, built, GetAppContext() != nullptr});
    }
    if (built && g_failAfter && std::string(member) == g_failAfter)
        throw std::runtime_error("member failed");
}

std::vector<std::string> Members(bool built) {
    std::lock_guard<std::mutex> guard(g_eventsLock);
    std::vector<std::string> names;
    for (const Event& e : g_events) {
        if (e.built == built)
            names.push_back(e.member);
    }
    return names;
}

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_events.clear();
        g_failAfter = nullptr;
        SetAppContextTrace(Record);
    }
    void TearDown() override { SetAppContextTrace(nullptr); }
    ScopedAppFolder folder;
};

const std::vector<std::string> kOrder = {"ScriptCatalog", "DebugSettings", "FavoritesStore",
                                         "LanguageTranslator", "MsgCenter", "ScriptManager",
                                         "AppDatabase", "UiMetrics", "ReportedNames"};

std::vector<std::string> Reversed(std::vector<std::string> names) {
    return std::vector<std::string>(names.rbegin(), names.rend());
}

TEST_F(ContextTest, MembersAreBuiltInOrderAndDestroyedInReverse) {
    ASSERT_EQ(GetAppContext(), nullptr);
    {
        AppContext ctx;
        EXPECT_EQ(GetAppContext(), &ctx);
        EXPECT_EQ(Members(true), kOrder);
        EXPECT_TRUE(Members(false).empty());
    }
    EXPECT_EQ(GetAppContext(), nullptr);
    EXPECT_EQ(Members(false), Reversed(kOrder));
    for (const Event& e : g_events)
        EXPECT_FALSE(e.published) << e.member << (e.built ? " built" : " destroyed");
}

TEST_F(ContextTest, TheDownloadManagerGoesBetweenTheFavoritesAndTheDeveloperSettings) {
    {
        AppContext ctx;
        ctx.GetDownloadMgr();
    }
    std::vector<std::string> expected = {"ReportedNames", "UiMetrics", "AppDatabase", "ScriptManager", "MsgCenter",
                                         "LanguageTranslator", "FavoritesStore", "VxDownloadMgr", "DebugSettings",
                                         "ScriptCatalog"};
    EXPECT_EQ(Members(false), expected);
}

TEST_F(ContextTest, AFailingMemberUndoesTheOnesBuiltBefore) {
    g_failAfter = "MsgCenter";
    EXPECT_THROW(AppContext ctx, std::runtime_error);
    EXPECT_EQ(GetAppContext(), nullptr);
    std::vector<std::string> built(kOrder.begin(), kOrder.begin() + 5);
    EXPECT_EQ(Members(true), built);
    EXPECT_EQ(Members(false), Reversed(built));
}

TEST_F(ContextTest, TheDownloadManagerIsBuiltOnceForConcurrentCallers) {
    AppContext ctx;
    std::vector<VxDownloadMgr*> seen(8, nullptr);
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (size_t i = 0; i < seen.size(); ++i) {
        callers.emplace_back([&, i] {
            while (!go) {}
            seen[i] = ctx.GetDownloadMgr();
        });
    }
    go = true;
    for (auto& c : callers)
        c.join();
    ASSERT_NE(seen[0], nullptr);
    for (VxDownloadMgr* mgr : seen)
        EXPECT_EQ(mgr, seen[0]);
    int builds = 0;
    for (const std::string& name : Members(true))
        builds += name == "VxDownloadMgr";
    EXPECT_EQ(builds, 1);
}

TEST_F(ContextTest, EachNameIsReportedOnce) {
    AppContext ctx;
    struct Case {
        const char* name;
        bool first;
    } cases[] = {
        {"One Piece", true}, {"One Piece", false}, {"one piece", true}, {"", true}, {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ctx.MarkReported(c.name), c.first) << c.name;
}

// A worker that holds the context keeps it alive; once destruction has begun nobody new gets it.
TEST_F(ContextTest, DestructionWaitsForThreadsThatHoldTheContext) {
    auto* ctx = new AppContext();
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> usedAlive{false};
    std::thread worker([&] {
        AppContextRef ref;
        ASSERT_TRUE(ref);
        SetEvent(held);
        WaitForSingleObject(release, INFINITE);
        usedAlive = ref->Translator().CurrentCode() == "en";  // still whole
    });
    WaitForSingleObject(held, INFINITE);
    std::thread destroyer([&] { delete ctx; });
    Sleep(200);
    EXPECT_EQ(GetAppContext(), nullptr);
    {
        AppContextRef late;
        EXPECT_FALSE(late);
    }
    EXPECT_TRUE(Members(false).empty()) << "a member went while a thread still held the context";
    SetEvent(release);
    worker.join();
    destroyer.join();
    EXPECT_TRUE(usedAlive.load());
    EXPECT_EQ(Members(false), Reversed(kOrder));
    CloseHandle(held);
    CloseHandle(release);
}

// A holder blocked in SendMessage to a window of the destroying thread still gets its answer.
TEST_F(ContextTest, DestructionAnswersMessagesSentByAHolder) {
    auto* ctx = new AppContext();
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> answered{false};
    std::thread worker([&] {
        AppContextRef ref;
        SetEvent(held);
        Sleep(100);  // let the destruction start waiting
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
    });
    WaitForSingleObject(held, INFINITE);
    delete ctx;
    worker.join();
    EXPECT_TRUE(answered.load());
    EXPECT_EQ(Members(false), Reversed(kOrder));
    DestroyWindow(window);
    CloseHandle(held);
}

TEST_F(ContextTest, TheDeveloperWriterStopsWithTheContext) {
    WriteBytes(folder + L"debug.ini", "[Config]\nSaveCloud=1\n");
    {
        AppContext ctx;
        ASSERT_TRUE(ctx.Debug().SaveCloud);
        ASSERT_TRUE(ctx.Debug().Post(new AsyncWriteFile(L"config.txt", std::make_shared<std::string>("{}"))));
    }
    EXPECT_EQ(ReadBytes(folder + L"Save\\config.txt"), "{}");
}

}  // namespace
