// The script boundary: a site script that reads, forges and replays everything it can reach must
// not make the host call through an address it chose, nor reach an observer outside its call.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "QuilletTestSupport.h"

using namespace qtest;

namespace {

// Tells the calls made on the thread of its own ParseImages, while that runs, from any other.
class Watcher : public Vellix::NotifyCallback {
public:
    void Open() {
        thread_ = GetCurrentThreadId();
        open_ = true;
    }
    void Close() { open_ = false; }

    void OnCount(int) override { Note(); }
    void OnURL(const char*) override { Note(); }
    void OnCookie(const char*) override { Note(); }
    void OnHeaders(const char*) override { Note(); }
    void OnSave(const char*, size_t) override { Note(); }
    void OnNavigate(const char*) override { Note(); }

    std::atomic<int> during{0};
    std::atomic<int> stray{0};

private:
    void Note() { ++(open_ && GetCurrentThreadId() == thread_ ? during : stray); }

    std::atomic<bool> open_{false};
    DWORD thread_ = 0;
};

int ParseImagesWatched(Vellix::Script* script, Watcher& watcher) {
    StrSink sink;
    watcher.Open();
    int code = script->ParseImages(&sink, "http://hostile.test/vol", &watcher);
    watcher.Close();
    return code;
}

// The number of host calls that the script's attack made, from the JSON text "[n]".
long AttackCalls(const std::string& json) {
    return json.size() > 2 ? std::strtol(json.c_str() + 1, nullptr, 10) : 0;
}

TEST(Boundary, HostileScriptReachesNothingItWasNotHanded) {
    std::string error;
    Vellix::Script* script = LoadPlain(ReadFile(FixturePath("hostile.lua")), &error);
    ASSERT_TRUE(script) << error;
    ASSERT_EQ(kScriptOk, script->SetString("LangID", "en"));
    ASSERT_EQ(kScriptOk, script->SetString("Proxy", "127.0.0.1:1"));
    ASSERT_TRUE(script->AllowFunction("Vellix_BeforeNavigate"));

    Watcher first;
    Watcher second;
    auto volumes = [script] {
        StrSink sink;
        int code = script->ParseVolumes(&sink, "http://hostile.test/", "t", 0);
        // The attack ran to its end: a hostile call that got through to a forged address would not.
        EXPECT_GT(AttackCalls(sink.text), 10000) << sink.text;
        return code;
    };
    auto info = [script] {
        StrSink sink;
        return script->ParseInfo(&sink, "http://hostile.test/", "t", 0);
    };
    struct Step {
        const char* what;
        std::function<int()> call;
        int code;
    };
    const Step steps[] = {
        {"volumes before any observer", volumes, kScriptOk},
        {"images with the first observer", [&] { return ParseImagesWatched(script, first); }, kScriptOk},
        {"info after it", info, kScriptOk},
        {"hook", [&] { return script->CallFunction("Vellix_BeforeNavigate", "u", "d", 0); }, kScriptHookTrue},
        {"images with the second observer", [&] { return ParseImagesWatched(script, second); }, kScriptOk},
        {"volumes with stale addresses of both", volumes, kScriptOk},
    };
    for (const Step& step : steps)
        EXPECT_EQ(step.code, step.call()) << step.what << ": " << LastError(script);

    EXPECT_GT(first.during, 0);
    EXPECT_GT(second.during, 0);
    EXPECT_EQ(0, first.stray);
    EXPECT_EQ(0, second.stray);

    // The program's own reads of the forged host table.
    for (const char* field : {"Object", "Observer", "Window", "LangID", "Proxy", "CodePage", "Title"}) {
        StrSink sink;
        script->GetString(field, &sink);
        script->GetInteger(field, 0);
    }
    StrSink sink;
    script->CheckVersion(&sink);
    script->GetCookies(&sink);
    EXPECT_FALSE(script->LacksParseImages());

    // The script's finaliser attacks once more while the state closes.
    EXPECT_TRUE(VxReleaseScript(&script));
    EXPECT_EQ(0, first.stray);
    EXPECT_EQ(0, second.stray);
}

}  // namespace
