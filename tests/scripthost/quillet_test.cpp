// The script host through its exports: loading (delivered and developer roads), the script object's
// operations and result codes, the host module's functions seen from a running script, the
// JavaScript object, serialised calls from two threads and the log output.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DebugCapture.h"
#include "QuilletTestSupport.h"

using namespace qtest;
using vxtest::DebugCapture;

namespace {

const char kRawEntries[] =
    "function Vellix_ParseInfo(u, t) return assert(load(t))() end\n"
    "function Vellix_ParseVolumes(u, t) return assert(load(t))() end\n"
    "function Vellix_ParseImages(u) return assert(load(ImagesCode))() end\n";

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        script_.reset(LoadDelivered("probe.lua"));
        ASSERT_TRUE(script_.get()) << "the enciphered probe did not load";
    }

    std::string Run(const std::string& code) { return Probe(script_.get(), code); }

    // Stores code for the probe's Vellix_ParseImages.
    void SetImagesCode(const std::string& code) { ASSERT_EQ("[\"nil\"]", Run("ImagesCode = [==[" + code + "]==]")); }

    struct Owned {
        Vellix::Script* script = nullptr;
        void reset(Vellix::Script* s) {
            VxReleaseScript(&script);
            script = s;
        }
        Vellix::Script* get() const { return script; }
        ~Owned() { VxReleaseScript(&script); }
    } script_;
    Vellix::Script* S() const { return script_.get(); }
};

struct ProbeCase {
    const char* code;
    const char* answer;
};

void RunCases(Vellix::Script* script, const std::vector<ProbeCase>& cases) {
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].answer, Probe(script, cases[i].code)) << "case " << i << ": " << cases[i].code;
}

// ---------------------------------------------------------------------------------------------
// Loading

TEST(Load, ZeroSizeAndNullGiveNull) {
    EXPECT_EQ(nullptr, VxLoadScript(nullptr, 0));
    // The data pointer must not be read at all for a size of 0.
    EXPECT_EQ(nullptr, VxLoadScript(reinterpret_cast<const char*>(1), 0));
    EXPECT_EQ(nullptr, VxDevLoadScript(nullptr, nullptr));
}

TEST(Load, DeliveredBlockIsDeciphered) {
    ScriptHandle delivered(LoadDelivered("probe.lua"));
    ASSERT_TRUE(delivered);
    EXPECT_EQ("[\"number\",3]", Probe(delivered.get(), "return 1 + 2"));

    // The plain text is no delivered block: deciphering turns it into noise that does not load.
    std::string plain = ReadFile(FixturePath("probe.lua"));
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(nullptr, VxLoadScript(plain.data(), plain.size()));
}

TEST(Load, DeveloperRoad) {
    struct Case {
        const char* text;
        bool loads;
        const char* error;  // the sink's text; null: the sink is never called
    };
    const Case cases[] = {
        {"x = 1", true, nullptr},
        {"", false, nullptr},
        {"error('top level')", false, "[string \"?\"]:1: top level"},
        {"x = ", false, "[string \"?\"]:1: unexpected symbol near <eof>"},
        {"local t = {}\nerror(t)", false, "(error object is a table value)"},
        // Lua places a number message like a string one.
        {"error(42)", false, "[string \"?\"]:1: 42"},
        {"error()", false, "(error object is a nil value)"},
    };
    for (const Case& c : cases) {
        StringReader reader(c.text);
        StrSink sink;
        Vellix::Script* script = VxDevLoadScript(&reader, &sink);
        EXPECT_EQ(c.loads, script != nullptr) << c.text;
        EXPECT_EQ(c.error ? 1 : 0, sink.calls) << c.text;
        EXPECT_EQ(c.error ? c.error : "", sink.text) << c.text;
        EXPECT_LE(reader.readCalls, 1) << c.text;
        EXPECT_EQ(*c.text ? 1 : 0, reader.readCalls) << c.text;
        VxReleaseScript(&script);
    }

    // Without a sink the failure is only the null result.
    StringReader failing("error('x')");
    EXPECT_EQ(nullptr, VxDevLoadScript(&failing, nullptr));
}

TEST(Load, FailedReadGivesNull) {
    StringReader reader("x = 1", false);
    StrSink sink;
    EXPECT_EQ(nullptr, VxDevLoadScript(&reader, &sink));
    EXPECT_EQ(1, reader.readCalls);
    EXPECT_EQ(0, sink.calls);
}

TEST(Load, ReleaseOnceThenNull) {
    Vellix::Script* script = LoadPlain("x = 1");
    ASSERT_NE(nullptr, script);
    EXPECT_TRUE(VxReleaseScript(&script));
    EXPECT_EQ(nullptr, script);
    EXPECT_FALSE(VxReleaseScript(&script));
    EXPECT_FALSE(VxReleaseScript(nullptr));
    VxFinalize();
}

TEST(Load, ScriptsOfOneProcessShareTheHostTableName) {
    const char* find =
        "for k, v in pairs(_G) do if type(k) == 'string' and k:match('^__Vx%x+$') then "
        "return k .. ' ' .. type(v.Object) end end";
    ScriptHandle a(LoadDelivered("probe.lua"));
    ScriptHandle b(LoadDelivered("probe.lua"));
    ASSERT_TRUE(a && b);
    std::string first = Probe(a.get(), find);
    EXPECT_TRUE(std::regex_match(first, std::regex("\\[\"string\",\"__Vx[0-9a-f]{8} number\"\\]"))) << first;
    EXPECT_EQ(first, Probe(b.get(), find));
}

TEST(Load, EntryPointsMissing) {
    ScriptHandle script(LoadPlain("x = 1"));
    ASSERT_TRUE(script);
    StrSink sink;
    Recorder recorder;
    EXPECT_EQ(kScriptError, script->ParseInfo(&sink, "http://a/", "t", 0));
    EXPECT_EQ("Cannot get function 'Vellix_ParseInfo'.", LastError(script.get()));
    EXPECT_EQ(kScriptError, script->ParseVolumes(&sink, "http://a/", "t", 0));
    EXPECT_EQ("Cannot get function 'Vellix_ParseVolumes'.", LastError(script.get()));
    EXPECT_TRUE(script->LacksParseImages());
    EXPECT_EQ(kScriptNoParseImages, script->ParseImages(&sink, "http://a/", &recorder));
    EXPECT_EQ("Cannot get function 'Vellix_ParseVolumes'.", LastError(script.get()));  // code 4 keeps it
    EXPECT_EQ(0, sink.calls);
}

// ---------------------------------------------------------------------------------------------
// Entry points and result codes

TEST(Entry, ParseInfoResults) {
    ScriptHandle script(LoadPlain(kRawEntries));
    ASSERT_TRUE(script);
    struct Case {
        const char* code;
        int result;
        const char* json;  // sink text on success, else the last error (null: not checked)
    };
    const Case cases[] = {
        {"return {name = 'A'}", kScriptOk, "{\"name\":\"A\"}"},
        {"return {name = ''}", kScriptOk, "{\"name\":\"\"}"},
        {"return {name = 5}", kScriptWrongResult, nullptr},
        {"return {title = 'x'}", kScriptWrongResult, nullptr},
        {"return {'a'}", kScriptWrongResult, nullptr},
        {"return {}", kScriptWrongResult, nullptr},
        {"return 'name'", kScriptWrongResult, nullptr},
        {"return nil", kScriptWrongResult, nullptr},
        {"return print", kScriptWrongResult, nullptr},
        {"error('boom')", kScriptError, "[string \"error('boom')\"]:1: boom"},
        {"error(setmetatable({}, {}))", kScriptError, "(error object is a table value)"},
    };
    for (const Case& c : cases) {
        StrSink sink;
        EXPECT_EQ(c.result, script->ParseInfo(&sink, "http://a/", c.code, 0)) << c.code;
        if (c.result == kScriptOk) {
            EXPECT_EQ(c.json, sink.text) << c.code;
        } else {
            EXPECT_EQ(0, sink.calls) << c.code;
        }
        if (c.result == kScriptError) {
            EXPECT_EQ(c.json, LastError(script.get())) << c.code;
        }
    }
}

TEST(Entry, ParseVolumesResults) {
    ScriptHandle script(LoadPlain(kRawEntries));
    ASSERT_TRUE(script);
    struct Case {
        const char* code;
        int result;
        const char* json;
    };
    const Case cases[] = {
        {"return {}", kScriptOk, "[]"},
        {"return {1, 2, 3}", kScriptOk, "[1,2,3]"},
        {"return {{name = 'v1', url = 'u1'}}", kScriptOk, nullptr},
        {"return {a = 1}", kScriptWrongResult, nullptr},
        {"return {name = 'x'}", kScriptWrongResult, nullptr},
        {"return 7", kScriptWrongResult, nullptr},
        {"return", kScriptWrongResult, nullptr},
    };
    for (const Case& c : cases) {
        StrSink sink;
        EXPECT_EQ(c.result, script->ParseVolumes(&sink, "http://a/", c.code, 0)) << c.code;
        if (c.result == kScriptOk && c.json) {
            EXPECT_EQ(c.json, sink.text) << c.code;
        }
        if (c.result != kScriptOk) {
            EXPECT_EQ(0, sink.calls) << c.code;
        }
    }
}

TEST(Entry, BadArguments) {
    ScriptHandle script(LoadPlain(kRawEntries));
    ASSERT_TRUE(script);
    StrSink sink;
    Recorder recorder;
    const char* code = "return {}";
    EXPECT_EQ(kScriptBadArguments, script->ParseInfo(&sink, nullptr, code, 0));
    EXPECT_EQ(kScriptBadArguments, script->ParseInfo(&sink, "", code, 0));
    EXPECT_EQ(kScriptBadArguments, script->ParseInfo(&sink, "http://a/", nullptr, 0));
    EXPECT_EQ(kScriptBadArguments, script->ParseInfo(&sink, "http://a/", "", 0));
    EXPECT_EQ(kScriptBadArguments, script->ParseVolumes(&sink, "", code, 0));
    EXPECT_EQ(kScriptBadArguments, script->ParseVolumes(&sink, "http://a/", "", 0));
    EXPECT_EQ(kScriptBadArguments, script->ParseImages(&sink, "http://a/", nullptr));
    EXPECT_EQ(kScriptBadArguments, script->ParseImages(&sink, "", &recorder));
    EXPECT_EQ(kScriptBadArguments, script->ParseImages(&sink, nullptr, &recorder));
    EXPECT_EQ(0, sink.calls);
}

TEST(Entry, TextIsTakenByLength) {
    ScriptHandle script(LoadPlain(kRawEntries));
    ASSERT_TRUE(script);
    const std::string code = "return {name = 'cut'}";
    // Only the first length bytes are the text: the rest would be a syntax error.
    std::string text = code + " this is not Lua";
    StrSink sink;
    EXPECT_EQ(kScriptOk, script->ParseInfo(&sink, "http://a/", text.data(), code.size()));
    EXPECT_EQ("{\"name\":\"cut\"}", sink.text);
    // With a length, a zero byte is part of the text; without one, the text ends there.
    std::string withZero = code + std::string(1, '\0') + "junk";
    EXPECT_EQ(kScriptError, script->ParseInfo(&sink, "http://a/", withZero.data(), withZero.size()));
    StrSink zero;
    EXPECT_EQ(kScriptOk, script->ParseInfo(&zero, "http://a/", withZero.data(), 0));
    EXPECT_EQ("{\"name\":\"cut\"}", zero.text);
}

TEST(Entry, ParseImagesResultsAndObserverLifetime) {
    ScriptHandle script(LoadDelivered("probe.lua"));
    ASSERT_TRUE(script);
    auto images = [&](const std::string& code, Recorder& recorder, StrSink& sink) {
        std::string set = "ImagesCode = [==[" + code + "]==]";
        EXPECT_EQ("[\"nil\"]", Probe(script.get(), set));
        return script->ParseImages(&sink, "http://a/vol/1", &recorder);
    };
    struct Case {
        const char* code;
        int result;
        const char* json;
    };
    const Case cases[] = {
        {"return {'http://a/1.jpg', 'http://a/2.jpg'}", kScriptOk, "[\"http://a/1.jpg\",\"http://a/2.jpg\"]"},
        {"return {}", kScriptWrongResult, nullptr},
        {"return {a = 1}", kScriptWrongResult, nullptr},
        {"return 'x'", kScriptWrongResult, nullptr},
        {"error('no pages')", kScriptError, nullptr},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        StrSink sink;
        EXPECT_EQ(c.result, images(std::string("vxapi2.Notify('count', 2) ") + c.code, recorder, sink)) << c.code;
        EXPECT_EQ(std::vector<std::string>{"count:2"}, recorder.Take()) << c.code;
        if (c.json) {
            EXPECT_EQ(c.json, sink.text) << c.code;
        }
        // After every ending the observer is gone: a later call reaches no callback.
        EXPECT_EQ("[\"nil\"]", Probe(script.get(), "vxapi2.Notify('count', 9) return vxapi2.Get('Observer')"));
        EXPECT_TRUE(recorder.Take().empty()) << c.code;
    }
    EXPECT_FALSE(script->LacksParseImages());
}

TEST(Entry, CookiesReachTheObserverAtTheEnd) {
    ScriptHandle script(LoadDelivered("probe.lua"));
    ASSERT_TRUE(script);
    ASSERT_EQ("[\"nil\"]", Probe(script.get(), "ImagesCode = \"vxapi2.Notify('URL', 'u') return {'x'}\""));
    Recorder recorder;
    StrSink sink;
    EXPECT_EQ(kScriptOk, script->ParseImages(&sink, "http://a/", &recorder));
    EXPECT_EQ(std::vector<std::string>{"URL:u"}, recorder.Take());  // no cookies, no OnCookie

    script->SetCookie("sid", "abc");
    EXPECT_EQ(kScriptOk, script->ParseImages(&sink, "http://a/", &recorder));
    EXPECT_EQ((std::vector<std::string>{"URL:u", "cookie:sid=abc"}), recorder.Take());

    // A failed parse does not report cookies.
    ASSERT_EQ("[\"nil\"]", Probe(script.get(), "ImagesCode = 'return 1'"));
    EXPECT_EQ(kScriptWrongResult, script->ParseImages(&sink, "http://a/", &recorder));
    EXPECT_TRUE(recorder.Take().empty());
}

TEST(Entry, CheckVersion) {
    struct Case {
        const char* globals;
        bool newer;
        const char* appVersion;  // sink text, "" for untouched
        const char* error;       // last error afterwards, "" for none
    };
    const Case cases[] = {
        {"strVersion = '1.5.1.13' strAppVersion = '2.6'", true, "2.6", ""},
        {"strVersion = '1.5.1.12' strAppVersion = '2.6'", false, "", ""},
        {"strVersion = '1.5.0.99' strAppVersion = '2.6'", false, "", ""},
        {"strVersion = '1.6.0.0' strAppVersion = '2.6'", true, "2.6", ""},
        {"strVersion = ' 1 . 5 . 2 '", true, "", "Cannot get string 'strAppVersion'."},
        {"strVersion = '1.6' strAppVersion = '3'", true, "3", ""},         // missing fields are 0
        {"strVersion = '1.5.1' strAppVersion = '3'", false, "", ""},       // 1.5.1.0
        {"strVersion = '1..5.1.13' strAppVersion = '3'", true, "3", ""},   // empty fields dropped
        {"strVersion = '1.5.1.12.9' strAppVersion = '3'", false, "", ""},  // a fifth field is not read
        {"strVersion = '1.5.1.12x' strAppVersion = '3'", false, "", ""},
        {"strVersion = 2 strAppVersion = 3", true, "3", ""},
        {"strVersion = '1.5.1.13' strAppVersion = ''", true, "", ""},
        {"strVersion = ''", false, "", ""},
        {"x = 1", false, "", "Cannot get string 'strVersion'."},
        {"strVersion = {}", false, "", "Cannot get string 'strVersion'."},
    };
    for (const Case& c : cases) {
        ScriptHandle script(LoadPlain(c.globals));
        ASSERT_TRUE(script) << c.globals;
        StrSink sink;
        EXPECT_EQ(c.newer, script->CheckVersion(&sink)) << c.globals;
        EXPECT_EQ(c.appVersion, sink.text) << c.globals;
        EXPECT_EQ(*c.appVersion ? 1 : 0, sink.calls) << c.globals;
        EXPECT_EQ(c.error, LastError(script.get())) << c.globals;
        EXPECT_EQ(c.newer, script->CheckVersion(nullptr)) << c.globals;
    }
}

TEST(Entry, GetExample) {
    ScriptHandle with(LoadPlain("strExample = 'http://comics.example/comic/42'"));
    ScriptHandle empty(LoadPlain("strExample = ''"));
    ScriptHandle without(LoadPlain("x = 1"));
    ASSERT_TRUE(with && empty && without);
    StrSink sink;
    EXPECT_TRUE(with->GetExample(&sink));
    EXPECT_EQ("http://comics.example/comic/42", sink.text);
    NullSink refusing;
    EXPECT_FALSE(with->GetExample(&refusing));
    EXPECT_EQ(1, refusing.calls);
    StrSink none;
    EXPECT_FALSE(empty->GetExample(&none));
    EXPECT_FALSE(without->GetExample(&none));
    EXPECT_EQ(0, none.calls);
    EXPECT_EQ("Cannot get string 'strExample'.", LastError(without.get()));
}

TEST(Entry, AllowAndCallFunction) {
    ScriptHandle script(
        LoadPlain("function Yes(a, d) return true end\n"
                  "function No(a, d) return false end\n"
                  "function Nothing(a, d) end\n"
                  "function Text(a, d) return 'true' end\n"
                  "function Fails(a, d) error('hook failed: ' .. a .. '/' .. d) end\n"
                  "function Echo(a, d) return a == 'arg' and d == 'da\\0ta' end\n"
                  "Missing = 5\n"
                  "function Secret(a, d) return true end\n"));
    ASSERT_TRUE(script);
    for (const char* name : {"Yes", "No", "Nothing", "Text", "Fails", "Echo", "Missing", "Undefined"})
        EXPECT_TRUE(script->AllowFunction(name)) << name;
    EXPECT_FALSE(script->AllowFunction("Yes"));

    struct Case {
        const char* name;
        int result;
    };
    const Case cases[] = {
        {"Yes", kScriptHookTrue},         {"No", kScriptHookOther},      {"Nothing", kScriptHookOther},
        {"Text", kScriptHookOther},       {"Fails", kScriptError},       {"Missing", kScriptNotAllowed},
        {"Undefined", kScriptNotAllowed}, {"Secret", kScriptNotAllowed}, {"yes", kScriptNotAllowed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, script->CallFunction(c.name, "arg", "data", 0)) << c.name;
    EXPECT_EQ("[string \"?\"]:5: hook failed: arg/data", LastError(script.get()));

    EXPECT_EQ(kScriptBadArguments, script->CallFunction("Yes", "", "data", 0));
    EXPECT_EQ(kScriptBadArguments, script->CallFunction("Yes", nullptr, "data", 0));
    EXPECT_EQ(kScriptBadArguments, script->CallFunction("Yes", "arg", "", 0));
    EXPECT_EQ(kScriptBadArguments, script->CallFunction("Yes", "arg", nullptr, 0));
    EXPECT_EQ(kScriptBadArguments, script->CallFunction(nullptr, "arg", "data", 0));

    std::string data("da\0ta and more", 14);
    EXPECT_EQ(kScriptHookTrue, script->CallFunction("Echo", "arg", data.data(), 5));
    EXPECT_EQ(kScriptHookOther, script->CallFunction("Echo", "arg", data.data(), 0));  // up to the zero byte
}

TEST(Entry, HostTableFromTheProgram) {
    ScriptHandle script(LoadDelivered("probe.lua"));
    ASSERT_TRUE(script);
    EXPECT_EQ(kScriptOk, script->SetString("LangID", "en"));
    EXPECT_EQ(kScriptOk, script->SetInteger("Window", 1234));
    EXPECT_EQ("[\"string\",\"en\"]", Probe(script.get(), "return vxapi2.Get('LangID')"));
    EXPECT_EQ("[\"number\",1234]", Probe(script.get(), "return vxapi2.Get('Window')"));

    StrSink lang;
    EXPECT_EQ(kScriptOk, script->GetString("LangID", &lang));
    EXPECT_EQ("en", lang.text);
    StrSink number;
    EXPECT_EQ(kScriptOk, script->GetString("Window", &number));
    EXPECT_EQ("1234", number.text);
    EXPECT_EQ(1234, script->GetInteger("Window", 7));

    ASSERT_EQ("[\"boolean\",true]", Probe(script.get(),
                                          "return vxapi2.Set('Flag', true) and vxapi2.Set('Off', false) and "
                                          "vxapi2.Set('Table', {}) and vxapi2.Set('Empty', '')"));
    EXPECT_EQ(1, script->GetInteger("Flag", 7));
    EXPECT_EQ(0, script->GetInteger("Off", 7));
    EXPECT_EQ(7, script->GetInteger("Table", 7));
    EXPECT_EQ(7, script->GetInteger("LangID", 7));
    EXPECT_EQ(7, script->GetInteger("Absent", 7));

    // A value that is neither text nor number is a failure, and the sink stays as it was.
    for (const char* name : {"Flag", "Table", "Absent"}) {
        StrSink sink;
        EXPECT_NE(kScriptOk, script->GetString(name, &sink)) << name;
        EXPECT_EQ(0, sink.calls) << name;
    }
    StrSink empty;
    EXPECT_EQ(kScriptOk, script->GetString("Empty", &empty));
    EXPECT_EQ(0, empty.calls);

    EXPECT_EQ(kScriptOk, script->SetString("LangID", nullptr));
    EXPECT_EQ("[\"nil\"]", Probe(script.get(), "return vxapi2.Get('LangID')"));
    StrSink removed;
    EXPECT_NE(kScriptOk, script->GetString("LangID", &removed));
}

TEST(Entry, Cookies) {
    ScriptHandle script(LoadDelivered("probe.lua"));
    ASSERT_TRUE(script);
    StrSink none;
    script->GetCookies(&none);
    EXPECT_EQ(0, none.calls);

    script->SetCookie("a", "1");
    script->SetCookie("b", "2");
    script->SetCookie("b", "3");
    StrSink both;
    script->GetCookies(&both);
    EXPECT_TRUE(both.text == "a=1;b=3" || both.text == "b=3;a=1") << both.text;
    EXPECT_EQ("[\"string\",\"3\"]", Probe(script.get(), "return vxapi2.GetCookie('b')"));
    EXPECT_EQ("[\"nil\"]", Probe(script.get(), "return vxapi2.GetCookie('B')"));
    EXPECT_EQ("[\"nil\"]", Probe(script.get(), "return vxapi2.GetCookie({})"));

    script->SetCookie("a", "");
    script->SetCookie("b", nullptr);
    StrSink gone;
    script->GetCookies(&gone);
    EXPECT_EQ(0, gone.calls);
    EXPECT_EQ("[\"nil\"]", Probe(script.get(), "return vxapi2.GetCookie('a')"));
}

// Every early way out of an operation must put the Lua stack back: a slot left behind per call
// would run over the stack long before this loop ends.
TEST(Entry, StackIsRestoredOnEveryPath) {
    ScriptHandle bare(LoadPlain("strVersion = {} NotAFunction = 1"));
    ScriptHandle probe(LoadDelivered("probe.lua"));
    ASSERT_TRUE(bare && probe);
    bare->AllowFunction("NotAFunction");
    probe->AllowFunction("Vellix_BeforeNavigate");
    Recorder recorder;
    for (int i = 0; i < 20000; ++i) {
        StrSink sink;
        ASSERT_EQ(kScriptError, bare->ParseInfo(&sink, "u", "t", 0));
        ASSERT_EQ(kScriptNoParseImages, bare->ParseImages(&sink, "u", &recorder));
        ASSERT_TRUE(bare->LacksParseImages());
        ASSERT_EQ(kScriptNotAllowed, bare->CallFunction("NotAFunction", "a", "d", 0));
        ASSERT_FALSE(bare->CheckVersion(&sink));
        ASSERT_FALSE(bare->GetExample(&sink));
        ASSERT_NE(kScriptOk, bare->GetString("Nothing", &sink));
        ASSERT_EQ(kScriptError, probe->ParseInfo(&sink, "u", "error('x')", 0));
        ASSERT_EQ(kScriptWrongResult, probe->ParseInfo(&sink, "u", "return 1", 0));
        ASSERT_EQ(kScriptHookOther, probe->CallFunction("Vellix_BeforeNavigate", "a", "return 1", 0));
    }
    EXPECT_EQ("[\"number\",3]", Probe(probe.get(), "return 1 + 2"));
}

// The lock lets the thread that holds it in again, so only another thread shows a lock left behind.
DWORD WINAPI TakeLock(void* script) {
    static_cast<Vellix::Script*>(script)->LacksParseImages();
    return 0;
}

// True when another thread gets the script's lock within five seconds.
bool LockFreeForOtherThreads(Vellix::Script* script) {
    HANDLE thread = CreateThread(nullptr, 0, TakeLock, script, 0, nullptr);
    if (!thread)
        return false;
    bool done = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return done;
}

TEST(Entry, EarlyWaysOutFreeTheLock) {
    Vellix::Script* script = LoadPlain("NotAFunction = 1 function Fails() error('x') end");
    ASSERT_TRUE(script);
    script->AllowFunction("NotAFunction");
    script->AllowFunction("Fails");
    Recorder recorder;
    StrSink sink;
    struct Case {
        const char* what;
        std::function<int()> call;
        int code;
    };
    const Case cases[] = {
        {"no image entry point", [&] { return script->ParseImages(&sink, "u", &recorder); }, kScriptNoParseImages},
        {"hook that is not a function", [&] { return script->CallFunction("NotAFunction", "a", "d", 0); },
         kScriptNotAllowed},
        {"hook that fails", [&] { return script->CallFunction("Fails", "a", "d", 0); }, kScriptError},
        {"missing entry point", [&] { return script->ParseInfo(&sink, "u", "t", 0); }, kScriptError},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.code, c.call()) << c.what;
        if (!LockFreeForOtherThreads(script)) {
            // The thread still waiting for the lock would use the script after its release.
            ADD_FAILURE() << "the lock stayed held after the " << c.what;
            return;
        }
    }
    VxReleaseScript(&script);
}

// ---------------------------------------------------------------------------------------------
// The host module, seen from the script

TEST_F(ProbeTest, ModuleTable) {
    RunCases(S(), {
                      {"local n = 0 for k in pairs(vxapi2) do n = n + 1 end return n", "[\"number\",13]"},
                      {"return package.loaded.vxapi2 == vxapi2", "[\"boolean\",true]"},
                      {"local s = '' for _, k in ipairs({'DebugPrint', 'HttpGet', 'NewObject', 'Notify', 'ParseJSON', "
                       "'ToUTF8', 'Sleep', 'Base64Decode', 'Get', 'Set', 'Navigate', 'MsgBox', 'GetCookie'}) do "
                       "s = s .. type(vxapi2[k]):sub(1, 1) end return s",
                       "[\"string\",\"fffffffffffff\"]"},
                      {"return type(debug.getregistry()['vxapi2.js'].__index)", "[\"string\",\"table\"]"},
                  });
}

TEST_F(ProbeTest, GetAndSet) {
    RunCases(S(), {
                      {"return vxapi2.Set('Observer', 1)", "[\"boolean\",false]"},
                      {"return vxapi2.Get('Observer')", "[\"nil\"]"},
                      {"return vxapi2.Set('observer', 1)", "[\"boolean\",true]"},
                      {"return vxapi2.Get('observer')", "[\"number\",1]"},
                      {"return vxapi2.Set('Object', 1)", "[\"boolean\",false]"},
                      {"return type(vxapi2.Get('Object'))", "[\"string\",\"number\"]"},
                      {"return vxapi2.Set('LangID', 'x') or vxapi2.Set('NetType', 1) or vxapi2.Set('Window', 1)",
                       "[\"boolean\",false]"},
                      {"return vxapi2.Set('CodePage', 936)", "[\"boolean\",true]"},
                      {"return vxapi2.Get('CodePage')", "[\"number\",936]"},
                      {"return vxapi2.Set('CodePage')", "[\"boolean\",true]"},
                      {"return vxapi2.Get('CodePage')", "[\"nil\"]"},
                      {"return vxapi2.Set(7, 'seven')", "[\"boolean\",true]"},
                      {"return vxapi2.Get('7')", "[\"string\",\"seven\"]"},
                      {"return vxapi2.Get(7)", "[\"string\",\"seven\"]"},
                      {"return vxapi2.Set({}, 1)", "[\"boolean\",false]"},
                      {"return vxapi2.Set()", "[\"boolean\",false]"},
                      {"return vxapi2.Get({})", "[\"nil\"]"},
                      {"return vxapi2.Get()", "[\"nil\"]"},
                  });
}

TEST_F(ProbeTest, Base64Decode) {
    RunCases(S(), {
                      {"return vxapi2.Base64Decode('aGk=')", "[\"string\",\"hi\"]"},
                      {"return vxapi2.Base64Decode('aGk')", "[\"string\",\"hi\"]"},
                      {"return vxapi2.Base64Decode('aG\\r\\nk=')", "[\"string\",\"hi\"]"},
                      {"return vxapi2.Base64Decode('SGVsbG8sIFdvcmxkIQ==')", "[\"string\",\"Hello, World!\"]"},
                      {"return vxapi2.Base64Decode('a')", "[\"string\",\"\"]"},
                      {"return #vxapi2.Base64Decode('AAAA')", "[\"number\",3]"},
                      {"return vxapi2.Base64Decode('aGk=\\0aGk=')", "[\"string\",\"hi\"]"},
                      {"return vxapi2.Base64Decode('')", "[\"nil\"]"},
                      {"return vxapi2.Base64Decode({})", "[\"nil\"]"},
                      {"return vxapi2.Base64Decode()", "[\"nil\"]"},
                  });
}

TEST_F(ProbeTest, ParseJSON) {
    RunCases(S(), {
                      {"local t = vxapi2.ParseJSON('[1,2]') return #t .. ',' .. t[1] .. ',' .. t[2]",
                       "[\"string\",\"2,1,2\"]"},
                      {"return vxapi2.ParseJSON('{\"a\":{\"b\":\"c\"}}').a.b", "[\"string\",\"c\"]"},
                      {"return vxapi2.ParseJSON('{')", "[\"nil\"]"},
                      {"return vxapi2.ParseJSON('')", "[\"nil\"]"},
                      {"return vxapi2.ParseJSON({})", "[\"nil\"]"},
                      // A bare number needs a character after it to end; a Lua number is text to parse.
                      {"return vxapi2.ParseJSON('12')", "[\"nil\"]"},
                      {"return vxapi2.ParseJSON('12 ')", "[\"number\",12]"},
                      {"return vxapi2.ParseJSON(12)", "[\"nil\"]"},
                      {"return vxapi2.ParseJSON('\"x\"')", "[\"string\",\"x\"]"},
                  });
}

TEST_F(ProbeTest, ToUTF8) {
    RunCases(S(), {
                      {"return vxapi2.ToUTF8('caf\\xe9', 1252) == 'caf\\xc3\\xa9'", "[\"boolean\",true]"},
                      // The default is the system ANSI code page (1252 under the pinned locale).
                      {"return vxapi2.ToUTF8('caf\\xe9') == 'caf\\xc3\\xa9'", "[\"boolean\",true]"},
                      {"return vxapi2.ToUTF8('\\xc4\\xe3', 936) == '\\xe4\\xbd\\xa0'", "[\"boolean\",true]"},
                      {"VxCP = 936 local r = vxapi2.ToUTF8('\\xc4\\xe3') VxCP = nil return r == '\\xe4\\xbd\\xa0'",
                       "[\"boolean\",true]"},
                      {"vxapi2.Set('CodePage', 936) VxCP = 1252 local r = vxapi2.ToUTF8('\\xc4\\xe3') "
                       "vxapi2.Set('CodePage') VxCP = nil return r == '\\xe4\\xbd\\xa0'",
                       "[\"boolean\",true]"},
                      {"return vxapi2.ToUTF8('a\\0b', 1252)", "[\"string\",\"a\"]"},
                      {"return vxapi2.ToUTF8(42)", "[\"string\",\"42\"]"},
                      {"return vxapi2.ToUTF8('')", "[\"string\",\"\"]"},
                      {"return vxapi2.ToUTF8({})", "[\"nil\"]"},
                  });
}

TEST_F(ProbeTest, NewObject) {
    RunCases(S(), {
                      {"return type(vxapi2.NewObject('JsInterpreter'))", "[\"string\",\"userdata\"]"},
                      {"return type(vxapi2.NewObject('jsinterpreter'))", "[\"string\",\"userdata\"]"},
                      {"return type(vxapi2.NewObject('JSINTERPRETER'))", "[\"string\",\"userdata\"]"},
                      {"return vxapi2.NewObject('Js')", "[\"nil\"]"},
                      {"return vxapi2.NewObject(5)", "[\"nil\"]"},
                      {"return vxapi2.NewObject()", "[\"nil\"]"},
                      {"return vxapi2.NewObject('JsInterpreter') ~= vxapi2.NewObject('JsInterpreter')",
                       "[\"boolean\",true]"},
                  });
}

TEST_F(ProbeTest, SleepBlocksForWholeSecondsOnly) {
    struct Case {
        const char* code;
        DWORD atLeast;
        DWORD below;
    };
    const Case cases[] = {
        {"vxapi2.Sleep(1)", 950, 3000}, {"vxapi2.Sleep(-5)", 0, 500},  {"vxapi2.Sleep(0)", 0, 500},
        {"vxapi2.Sleep(0/0)", 0, 500},  {"vxapi2.Sleep('x')", 0, 500}, {"vxapi2.Sleep()", 0, 500},
    };
    for (const Case& c : cases) {
        DWORD start = GetTickCount();
        EXPECT_EQ("[\"nil\"]", Run(c.code)) << c.code;
        DWORD took = GetTickCount() - start;
        EXPECT_GE(took, c.atLeast) << c.code;
        EXPECT_LT(took, c.below) << c.code;
    }
}

TEST_F(ProbeTest, JsInterpreter) {
    ASSERT_EQ("[\"nil\"]", Run("Js = vxapi2.NewObject('JsInterpreter')"));
    RunCases(S(), {
                      {"return Js:Eval('1+2')", "[\"number\",3]"},
                      {"return Js:Eval(\"'abc'\")", "[\"string\",\"abc\"]"},
                      {"return #Js:Eval(\"'a\\\\u0000b'\")", "[\"number\",3]"},
                      {"return Js:Eval('true')", "[\"nil\"]"},
                      {"return Js:Eval('({a: 1})')", "[\"nil\"]"},
                      {"return Js:Eval('null')", "[\"nil\"]"},
                      {"return Js:Eval('undefined')", "[\"nil\"]"},
                      {"return Js:Eval('7/2')", "[\"number\",3]"},
                      {"return Js:Eval('-7/2')", "[\"number\",-3]"},
                      {"return Js:Eval('0/0')", "[\"number\",0]"},
                      {"return Js:Eval('1e12')", "[\"number\",2147483647]"},
                      {"return Js:Eval('throw new Error(\"x\")')", "[\"nil\"]"},
                      {"return Js:Eval('syntax error here')", "[\"nil\"]"},
                      {"return Js:Eval('2*3')", "[\"number\",6]"},
                      {"return Js:Eval({})", "[\"nil\"]"},
                      {"return Js:Eval()", "[\"nil\"]"},
                      {"return Js:Eval(40)", "[\"number\",40]"},
                      {"Js:Eval('var kept = 5') return Js:Eval('kept')", "[\"number\",5]"},
                      {"return Js:Run('kept = kept + 1')", "[\"boolean\",true]"},
                      {"return Js:Eval('kept')", "[\"number\",6]"},
                      {"return Js:Run('kept = 1', false) and Js:Eval('kept')", "[\"number\",1]"},
                      {"return Js:Run('1', true) and Js:Eval('typeof kept')", "[\"string\",\"undefined\"]"},
                      {"return Js:Run(42)", "[\"boolean\",true]"},
                      {"return Js:Run('throw 1')", "[\"boolean\",false]"},
                      {"return Js:Run('(')", "[\"boolean\",false]"},
                      {"return Js:Run({})", "[\"boolean\",false]"},
                      {"return Js:Run()", "[\"boolean\",false]"},
                      // Another object has a heap of its own.
                      {"Js:Eval('var mine = 1') return vxapi2.NewObject('JsInterpreter'):Eval('typeof mine')",
                       "[\"string\",\"undefined\"]"},
                  });
}

TEST_F(ProbeTest, JsInterpreterAfterCollectAndMisuse) {
    RunCases(S(), {
                      // After __gc the object has no heap: nil and false, until a reset makes one.
                      {"local js = vxapi2.NewObject('JsInterpreter') js:__gc() return js:Eval('1')", "[\"nil\"]"},
                      {"local js = vxapi2.NewObject('JsInterpreter') js:__gc() js:__gc() return js:Run('1')",
                       "[\"boolean\",false]"},
                      {"local js = vxapi2.NewObject('JsInterpreter') js:__gc() return js:Run('1', true) and "
                       "js:Eval('1+1')",
                       "[\"number\",2]"},
                      {"local js = vxapi2.NewObject('JsInterpreter') js = nil collectgarbage() collectgarbage() "
                       "return 1",
                       "[\"number\",1]"},
                  });
    std::string misuse = Run("local js = vxapi2.NewObject('JsInterpreter') return js.Eval({}, '1')");
    EXPECT_NE(std::string::npos, misuse.find("code 1: ")) << misuse;
    EXPECT_NE(std::string::npos, misuse.find("bad argument #1")) << misuse;
    EXPECT_NE(std::string::npos, misuse.find("vxapi2.js expected")) << misuse;
    std::string misuseRun = Run("local js = vxapi2.NewObject('JsInterpreter') return js.Run('1+1')");
    EXPECT_NE(std::string::npos, misuseRun.find("bad argument #1")) << misuseRun;
    EXPECT_EQ("[\"number\",3]", Run("return 1 + 2"));
}

TEST_F(ProbeTest, NotifyReachesTheObserver) {
    struct Case {
        const char* call;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {"vxapi2.Notify('count', 3)", {"count:3"}},
        {"vxapi2.Notify('count', '3')", {"count:3"}},
        {"vxapi2.Notify('Count', 3)", {}},
        {"vxapi2.Notify('count', 'three')", {}},
        {"vxapi2.Notify('URL', 'http://a/1.jpg')", {"URL:http://a/1.jpg"}},
        {"vxapi2.Notify('url', 'http://a/1.jpg')", {}},
        {"vxapi2.Notify('URL', {})", {}},
        {"vxapi2.Notify('cookie', 'a=1')", {"cookie:a=1"}},
        {"vxapi2.Notify('headers', 'Referer: x')", {"headers:Referer: x"}},
        {"vxapi2.Notify('save', 'name', 'by\\0tes')", {std::string("save:by\0tes", 11)}},
        {"vxapi2.Notify('save', 'only')", {"save:only"}},
        {"vxapi2.Notify('save', 'name', 5)", {"save:5"}},
        {"vxapi2.Notify('save', 'name', {})", {}},
        {"vxapi2.Notify('save', {}, 'data')", {}},
        {"vxapi2.Notify('navigate', 'x', 'http://b/')", {"navigate:http://b/"}},
        {"vxapi2.Notify('navigate', 'x', true)", {}},
        {"vxapi2.Notify('navigate', 'x', nil)", {}},
        {"vxapi2.Notify('other', 'x')", {}},
        {"vxapi2.Notify(nil, 'x')", {}},
        {"vxapi2.Notify(2, 'x')", {}},
    };
    for (const Case& c : cases) {
        SetImagesCode(std::string(c.call) + " return {'x'}");
        Recorder recorder;
        StrSink sink;
        EXPECT_EQ(kScriptOk, S()->ParseImages(&sink, "http://a/", &recorder)) << c.call;
        EXPECT_EQ(c.events, recorder.Take()) << c.call;
    }
}

// A URL scheme of this process whose "open" command is reg.exe, which writes the address the shell
// hands it as a value name under a key of its own: what the shell really opened, and with which verb.
// The shell runs inside Quillet, out of reach of a seam in this program. The scheme goes under
// HKEY_CLASSES_ROOT itself: Wine's shell does not read per-user classes.
class OpenedAddresses {
public:
    OpenedAddresses() : scheme_(L"vxnavtest" + std::to_wstring(GetCurrentProcessId())), log_(L"Software\\" + scheme_) {
        std::wstring command = L"reg.exe add HKCU\\" + log_ + L" /v \"%1\" /d opened /f";
        ok_ = SetText(scheme_, L"URL Protocol", L"") && SetText(scheme_ + L"\\shell\\open\\command", nullptr, command);
    }
    ~OpenedAddresses() {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme_.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, log_.c_str());
    }
    bool Ready() const { return ok_; }
    std::string Scheme() const { return std::string(scheme_.begin(), scheme_.end()); }

    // Every address opened so far.
    std::set<std::wstring> Seen() const {
        std::set<std::wstring> seen;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, log_.c_str(), 0, KEY_QUERY_VALUE, &key))
            return seen;
        wchar_t name[1024];
        for (DWORD i = 0, n = 1024; RegEnumValueW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) == 0;
             ++i, n = 1024)
            seen.insert(std::wstring(name, n));
        RegCloseKey(key);
        return seen;
    }

    // Waits until the address came or ms ran out; then everything that came.
    std::set<std::wstring> WaitFor(const std::wstring& address, DWORD ms) const {
        DWORD start = GetTickCount();
        std::set<std::wstring> seen = Seen();
        while (!seen.count(address) && GetTickCount() - start < ms) {
            Sleep(50);
            seen = Seen();
        }
        return seen;
    }

private:
    static bool SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr))
            return false;
        LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        return result == ERROR_SUCCESS;
    }

    std::wstring scheme_;
    std::wstring log_;
    bool ok_ = false;
};

TEST_F(ProbeTest, NavigateOpensTheAddressWithTheShell) {
    OpenedAddresses opened;
    ASSERT_TRUE(opened.Ready());
    const std::string scheme = opened.Scheme();
    const std::wstring wscheme(scheme.begin(), scheme.end());
    // Arguments that are no string open nothing, not even what __tostring makes of them.
    std::string notStrings = "local t = setmetatable({}, {__tostring = function() return '" + scheme +
                             ":table' end}) vxapi2.Navigate(t) vxapi2.Navigate(true) vxapi2.Navigate(nil) "
                             "vxapi2.Navigate()";
    ASSERT_EQ("[\"nil\"]", Run(notStrings));
    struct Case {
        std::string code;
        std::wstring address;
    };
    const Case cases[] = {
        // UTF-8 by default, not the ANSI code page.
        {"vxapi2.Navigate('" + scheme + ":utf8/\\xe4\\xb8\\xad\\xe6\\x96\\x87?q=1&r=2')",
         wscheme + L":utf8/\x4e2d\x6587?q=1&r=2"},
        {"vxapi2.Set('CodePage', 936) vxapi2.Navigate('" + scheme +
             ":gbk/\\xd6\\xd0\\xce\\xc4') "
             "vxapi2.Set('CodePage')",
         wscheme + L":gbk/\x4e2d\x6587"},
        {"VxCP = 1252 vxapi2.Navigate('" + scheme + ":ansi/caf\\xe9') VxCP = nil", wscheme + L":ansi/caf\xe9"},
    };
    std::set<std::wstring> expected;
    for (const Case& c : cases) {
        ASSERT_EQ("[\"nil\"]", Run(c.code)) << c.code;
        expected.insert(c.address);
        std::set<std::wstring> seen = opened.WaitFor(c.address, 10000);
        EXPECT_TRUE(seen.count(c.address)) << c.code;
    }
    // One more opening after all the others: once it is in, a stray one from before would be too.
    const std::wstring marker = wscheme + L":marker";
    ASSERT_EQ("[\"nil\"]", Run("vxapi2.Navigate('" + scheme + ":marker')"));
    expected.insert(marker);
    EXPECT_TRUE(opened.WaitFor(marker, 10000).count(marker));
    EXPECT_EQ(expected, opened.Seen());
}

TEST_F(ProbeTest, DebugPrintAndNotifyNameGoToTheLog) {
    DebugCapture capture;
    ASSERT_EQ("[\"nil\"]", Run("vxapi2.DebugPrint('hello from the script')"));
    ASSERT_EQ("[\"nil\"]", Run("vxapi2.DebugPrint(42) vxapi2.DebugPrint({}) vxapi2.DebugPrint()"));
    ASSERT_EQ("[\"nil\"]", Run("vxapi2.DebugPrint('caf\\xc3\\xa9')"));
    ASSERT_EQ("[\"nil\"]", Run("VxCP = 936 vxapi2.DebugPrint('\\xc4\\xe3') VxCP = nil"));
    SetImagesCode("vxapi2.Notify({}, 1) return {'x'}");
    Recorder recorder;
    StrSink sink;
    ASSERT_EQ(kScriptOk, S()->ParseImages(&sink, "http://a/", &recorder));
    // Without an observer an odd name is not even looked at.
    ASSERT_EQ("[\"nil\"]", Run("vxapi2.Notify({}, 1)"));

    std::vector<std::string> lines = capture.Take();
    // U+4F60 has no form in code page 1252: the conversion gives a stand-in character.
    const std::vector<std::string> expected = {"[Vellix] hello from the script\n", "[Vellix] caf\xe9\n", "[Vellix] ?\n",
                                               "[Vellix] Invalid notify name.\n"};
    EXPECT_EQ(expected, lines);
}

// Calls into one script from two threads run one after the other, blocking calls included.
TEST_F(ProbeTest, CallsFromTwoThreadsAreSerialised) {
    const std::string code =
        "Inside = (Inside or 0) + 1 local seen = Inside vxapi2.Sleep(1) Inside = Inside - 1 return seen";
    std::string answers[2];
    DWORD start = GetTickCount();
    std::thread other([&] { answers[1] = Probe(S(), code); });
    answers[0] = Probe(S(), code);
    other.join();
    DWORD took = GetTickCount() - start;
    EXPECT_EQ("[\"number\",1]", answers[0]);
    EXPECT_EQ("[\"number\",1]", answers[1]);
    EXPECT_GE(took, 1900u);

    // Image parsing on one thread and a hook on another share the same lock.
    SetImagesCode(
        "Inside = (Inside or 0) + 1 vxapi2.Notify('count', 1) vxapi2.Sleep(1) Inside = Inside - 1 "
        "return {'x'}");
    S()->AllowFunction("Vellix_BeforeNavigate");
    int hook = 0;
    Recorder recorder;
    std::thread images([&] {
        StrSink sink;
        S()->ParseImages(&sink, "http://a/", &recorder);
    });
    // The hook comes once the parse is inside the script, as its notification shows.
    std::vector<std::string> events;
    for (int i = 0; i < 500 && events.empty(); ++i) {
        Sleep(10);
        events = recorder.Take();
    }
    EXPECT_EQ(std::vector<std::string>{"count:1"}, events);
    hook = S()->CallFunction("Vellix_BeforeNavigate", "u", "return Inside == 0", 0);
    images.join();
    EXPECT_EQ(kScriptHookTrue, hook);
}

}  // namespace
