// The parse context: its fields as a downloader reads them, script loading from files, the hooks,
// the page request's settings, the three parsing calls and the statistics of a comic, with local
// scripts and with the demo site's script from the reference service.
#include "DbTestSupport.h"
#include "ServiceTestSupport.h"

#include <AppDatabase.h>
#include <JsonUtil.h>
#include <LanguageTranslator.h>
#include <ParseContext.h>
#include <ScriptCatalog.h>
#include <ScriptManager.h>
#include <ServiceApi.h>
#include <Tessara.h>
#include <TestServer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>

namespace {

// A sink that counts how often it was asked for a buffer.
class CountingSink : public Vellix::MemObject {
public:
    char* Allocate(size_t n) override {
        ++calls;
        text.assign(n, '\0');
        return &text[0];
    }
    std::string text;
    int calls = 0;
};

class Notes : public Vellix::NotifyCallback {
public:
    void OnCount(int count) override { lines.push_back("count:" + std::to_string(count)); }
    void OnURL(const char* url) override { lines.push_back(std::string("URL:") + url); }
    std::vector<std::string> lines;
};

// A plain site script whose results are the JSON texts it is given: the page for the information
// and the volumes, the part after '#' of a volume address for the images.
std::string LocalScript(bool wantsProxy, bool hook) {
    std::string text =
        "strVersion = \"1.5.1.0\"\n"
        "strAppVersion = \"2.5.0.35\"\n"
        "strExample = \"http://example.test/comic/1.html\"\n"
        "function Vellix_ParseInfo(url, page)\n"
        "  if page == 'error' then error('the page says error') end\n"
        "  if page == 'string' then return 'not a table' end\n"
        "  return vxapi2.ParseJSON(page)\n"
        "end\n"
        "function Vellix_ParseVolumes(url, page)\n"
        "  local info = vxapi2.ParseJSON(page)\n"
        "  if info.volumes == 'error' then error('no volumes') end\n"
        "  return info.volumes\n"
        "end\n"
        "function Vellix_ParseImages(url)\n"
        "  vxapi2.Notify('count', 1)\n"
        "  if url == 'error' then error('no images') end\n"
        "  return vxapi2.ParseJSON(url:match('#(.*)$'))\n"
        "end\n";
    if (wantsProxy)
        text += "vxapi2.Set('Proxy', 'please')\n";
    if (hook) {
        text +=
            "function Vellix_BeforeNavigate(url, data)\n"
            "  if url:match('/keep/') then return false end\n"
            "  if url:match('/empty/') then vxapi2.Set('CurrentURL', '') return true end\n"
            "  vxapi2.Set('CurrentURL', url .. '?data=' .. data) return true\n"
            "end\n";
    }
    return text;
}

std::string Text(JsonValue* value) {
    std::string text;
    jsonSerialize(
        value,
        [](const char* chunk, void* user) {
            static_cast<std::string*>(user)->append(chunk);
            return 0;
        },
        &text);
    return text;
}

class ParseContextTest : public ::testing::Test {
protected:
    void SetUp() override { Service().Control("reset"); }
    // A context with a local script of its own, loaded through the developer path.
    std::shared_ptr<CParseContext> Local(bool wantsProxy = false, bool hook = true) {
        WriteBytes(context.Folder() + L"local.lua", LocalScript(wantsProxy, hook));
        auto parse = std::make_shared<CParseContext>();
        std::string error;
        EXPECT_TRUE(parse->LoadScriptFile(context.Folder() + L"local.lua", false, error)) << error;
        return parse;
    }
    ServiceContext context;
};

TEST_F(ParseContextTest, ANewContextIsEmpty) {
    CParseContext parse;
    EXPECT_EQ(parse.script, nullptr);
    EXPECT_TRUE(parse.url.empty() && parse.page.empty());
    EXPECT_FALSE(parse.proxy);
    EXPECT_TRUE(parse.shared);
    EXPECT_EQ(parse.info, nullptr);
    EXPECT_FALSE(parse.ParseInfo("http://example.test/", "{}"));
    JsonValue* result = nullptr;
    EXPECT_FALSE(parse.ParseVolumes(result));
    EXPECT_EQ(parse.GetCookies(), "");
    std::string version;
    EXPECT_FALSE(parse.CheckVersion(version));
}

TEST_F(ParseContextTest, GetFieldAndIsFinished) {
    auto parse = Local();
    CountingSink sink;
    parse->url = "http://example.test/comic/1.html";
    EXPECT_TRUE(parse->GetField(0, &sink)) << "no info: the address";
    EXPECT_EQ(sink.text, parse->url);
    EXPECT_FALSE(parse->GetField(1, &sink)) << "no page yet";
    bool finished = true;
    EXPECT_FALSE(parse->IsFinished(&finished));

    ASSERT_TRUE(parse->ParseInfo("http://example.test/comic/2.html",
                                 R"({"stat": "http://example.test/stat", "name": "Name", "author": "",
                                     "cover": "http://example.test/c.jpg", "intro": "Intro",
                                     "category": "Cat", "finished": true})"));
    struct Case {
        int index;
        bool got;
        std::string text;
    } cases[] = {
        {-1, false, ""},
        {0, true, "http://example.test/stat"},
        {1, true, parse->page},
        {2, true, "Name"},
        {3, false, ""},  // empty
        {4, true, "http://example.test/c.jpg"},
        {5, true, "Intro"},
        {6, true, "Cat"},
        {7, false, ""},
        {INT_MIN, false, ""},
    };
    for (const Case& c : cases) {
        CountingSink field;
        EXPECT_EQ(parse->GetField(c.index, &field), c.got) << c.index;
        EXPECT_EQ(field.text, c.text) << c.index;
        EXPECT_EQ(field.calls, c.got ? 1 : 0) << c.index;
    }
    EXPECT_TRUE(parse->IsFinished(&finished));
    EXPECT_TRUE(finished);

    struct Finished {
        const char* info;
        bool known;
        bool finished;
    } flags[] = {
        {R"({"name": "n", "finished": false})", true, false},
        {R"({"name": "n", "finished": 1})", false, true},
        {R"({"name": "n", "finished": "yes"})", false, true},
        {R"({"name": "n"})", false, true},
    };
    for (const Finished& f : flags) {
        ASSERT_TRUE(parse->ParseInfo("http://example.test/comic/3.html", f.info)) << f.info << parse->GetLastError();
        bool out = true;
        EXPECT_EQ(parse->IsFinished(&out), f.known) << f.info;
        EXPECT_EQ(out, f.finished) << f.info;
    }
    CountingSink address;
    EXPECT_TRUE(parse->GetField(0, &address)) << "without \"stat\" the address";
    EXPECT_EQ(address.text, "http://example.test/comic/3.html");
}

TEST_F(ParseContextTest, TheParsingCalls) {
    auto parse = Local();
    // A script error and a result of the wrong type leave the context as it was.
    ASSERT_TRUE(parse->ParseInfo("http://example.test/a", R"({"name": "A"})"));
    EXPECT_FALSE(parse->ParseInfo("http://example.test/b", "error"));
    EXPECT_NE(parse->GetLastError().find("the page says error"), std::string::npos) << parse->GetLastError();
    EXPECT_FALSE(parse->ParseInfo("http://example.test/c", "string"));
    EXPECT_EQ(parse->url, "http://example.test/a");
    EXPECT_EQ(Text(parse->info), R"({"name":"A"})");

    struct Volumes {
        const char* page;
        bool ok;
        const char* result;  // the caller's value afterwards
    } volumes[] = {
        {R"({"name": "n", "volumes": [{"u": "v1"}, {"u": "v2"}]})", true, R"([{"u":"v1"},{"u":"v2"}])"},
        {R"({"name": "n", "volumes": {}})", false, "[]"},  // an empty table: an empty list
        {R"({"name": "n", "volumes": "error"})", false, "old"},
    };
    for (const Volumes& v : volumes) {
        ASSERT_TRUE(parse->ParseInfo("http://example.test/v", v.page)) << parse->GetLastError();
        JsonValue* result = newStringValue("old", 0);
        EXPECT_EQ(parse->ParseVolumes(result), v.ok) << v.page;
        EXPECT_EQ(v.result == std::string("old") ? getCString(result) : Text(result), v.result) << v.page;
        if (result)
            deleteValue(&result);
    }

    Notes notes;
    JsonValue* images = nullptr;
    EXPECT_TRUE(parse->ParseImages(images, R"(http://example.test/v1#[{"url": "i1"}])", &notes));
    EXPECT_EQ(Text(images), R"([{"url":"i1"}])");
    EXPECT_FALSE(parse->ParseImages(images, "error", &notes));
    EXPECT_EQ(Text(images), R"([{"url":"i1"}])") << "a script error keeps the caller's value";
    EXPECT_EQ(notes.lines, (std::vector<std::string>{"count:1", "count:1"}));
    deleteValue(&images);
}

TEST_F(ParseContextTest, LoadingScriptFiles) {
    CParseContext parse;
    std::string error;
    EXPECT_FALSE(parse.LoadScriptFile(context.Folder() + L"missing.lua", false, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(parse.script, nullptr);

    WriteBytes(context.Folder() + L"broken.lua", "function (\n");
    error.clear();
    EXPECT_FALSE(parse.LoadScriptFile(context.Folder() + L"broken.lua", false, error));
    EXPECT_NE(error.find("expected"), std::string::npos) << error;  // Lua's own message
    EXPECT_EQ(parse.script, nullptr);

    // A developer script with [Proxy] set gets the configured proxy.
    context->Database().SetConfig("Proxy", "127.0.0.1:3128");
    WriteBytes(context.Folder() + L"good.lua", LocalScript(false, false));
    ASSERT_TRUE(parse.LoadScriptFile(context.Folder() + L"good.lua", true, error)) << error;
    EXPECT_FALSE(parse.shared);
    Vellix::StrObject proxy;
    parse.script->GetString("Proxy", &proxy);
    EXPECT_EQ(proxy.text, "127.0.0.1:3128");
    EXPECT_TRUE(parse.proxy) << "the proxy given by the database counts as the script's wish";
    EXPECT_EQ(parse.GetExample(), "http://example.test/comic/1.html");

    // A package is read whole and deciphered; a plain text is no package.
    std::unique_ptr<Answer> delivered = Fetch(ScriptUrl(DemoKey()));
    WriteBytes(context.Folder() + L"demo.vxpkg", delivered->Body());
    EXPECT_TRUE(parse.LoadScriptMemory(context.Folder() + L"demo.vxpkg"));
    EXPECT_FALSE(parse.shared);
    EXPECT_EQ(parse.GetExample(), Service().SiteUrl("/comic/harbor.html"));
    proxy.text.clear();
    parse.script->GetString("Proxy", &proxy);
    EXPECT_EQ(proxy.text, "") << "a package never gets the proxy";
    EXPECT_FALSE(parse.LoadScriptMemory(context.Folder() + L"good.lua"));
    EXPECT_EQ(parse.script, nullptr);
    EXPECT_FALSE(parse.LoadScriptMemory(context.Folder() + L"missing.vxpkg"));
}

TEST_F(ParseContextTest, SetupHooksTellsTheScriptAboutTheProgram) {
    TestObserver frame;
    frame.Register();
    ASSERT_EQ(frame.id, 0);
    auto parse = Local(true);
    EXPECT_TRUE(parse->proxy) << "the script asked for the proxy";
    Vellix::StrObject lang, title;
    EXPECT_EQ(parse->script->GetString("LangID", &lang), 0);
    EXPECT_EQ(lang.text, context->Translator().CurrentCode());
    EXPECT_EQ(parse->script->GetString("Title", &title), 0);
    EXPECT_EQ(title.text, "Vellix");
    EXPECT_EQ(parse->script->GetInteger("Window", 0), static_cast<int>(reinterpret_cast<intptr_t>(frame.window)));
    EXPECT_FALSE(Local(false)->proxy);
}

TEST_F(ParseContextTest, BeforeNavigate) {
    struct Case {
        bool hook;
        std::string url;
        std::string after;
    } cases[] = {
        {true, "http://example.test/comic/1.html", "http://example.test/comic/1.html?data=N/A"},
        {true, "http://example.test/keep/1.html", "http://example.test/keep/1.html"},
        {true, "http://example.test/empty/1.html", ""},
        {false, "http://example.test/comic/1.html", "http://example.test/comic/1.html"},
    };
    for (const Case& c : cases) {
        auto parse = Local(false, c.hook);
        std::string url = c.url;
        parse->BeforeNavigate(url);
        EXPECT_EQ(url, c.after) << c.url;
    }

    // The demo site's script turns a mobile address into the desktop one.
    ASSERT_TRUE(context.LoadCatalogue());
    ScriptManager& manager = context->Scripts();
    Vellix::Script* demo = nullptr;
    ASSERT_EQ(manager.FindScript(kDemoHost, demo), kScriptMustDownload);
    std::unique_ptr<Answer> answer = Fetch(ScriptUrl(DemoKey()));
    ScriptFetchResult result(*answer->response);
    result.host = kDemoHost;
    result.key = DemoKey();
    ASSERT_EQ(manager.LoadDownloaded(result, demo), kScriptLoaded);
    CParseContext parse;
    parse.SetSharedScript(demo, manager.Lifetimes());
    std::string mobile = Service().SiteUrl("/m/comic/harbor.html");
    parse.BeforeNavigate(mobile);
    EXPECT_EQ(mobile, Service().SiteUrl("/comic/harbor.html"));
    std::string desktop = Service().SiteUrl("/comic/kite.html");
    parse.BeforeNavigate(desktop);
    EXPECT_EQ(desktop, Service().SiteUrl("/comic/kite.html"));
}

TEST_F(ParseContextTest, TheServicesScriptIsSharedAndAsksForANewerProgram) {
    ASSERT_TRUE(context.LoadCatalogue());
    ScriptManager& manager = context->Scripts();
    const std::string host = "future.vellix-demo.test";
    std::unique_ptr<Answer> answer = Fetch(ScriptUrl(CatalogueKey(host)));
    ScriptFetchResult result(*answer->response);
    result.host = host;
    result.key = CatalogueKey(host);
    Vellix::Script* future = nullptr;
    ASSERT_EQ(manager.LoadDownloaded(result, future), kScriptLoaded);
    {
        CParseContext parse;
        parse.SetSharedScript(future, manager.Lifetimes());
        std::string version;
        EXPECT_TRUE(parse.CheckVersion(version));
        EXPECT_EQ(version, "3.0.0.0");
    }
    // The context is gone, the manager's script stays.
    EXPECT_EQ(manager.GetLoaded(host), future);
    Vellix::StrObject example;
    EXPECT_TRUE(future->GetExample(&example));
    EXPECT_EQ(example.text, "http://future.vellix-demo.test/comic/1.html");

    // The same script loaded by the context itself is never asked.
    WriteBytes(context.Folder() + L"future.vxpkg", result.body);
    CParseContext own;
    ASSERT_TRUE(own.LoadScriptMemory(context.Folder() + L"future.vxpkg"));
    std::string version = "none";
    EXPECT_FALSE(own.CheckVersion(version));
    EXPECT_EQ(version, "none");
}

TEST_F(ParseContextTest, ThePageRequest) {
    auto parse = Local(true);
    const std::string page = Service().SiteUrl("/comic/harbor.html");
    std::string text;
    {
        WaitingClient client;
        ASSERT_EQ(parse->StartPageRequest(page, client, false), Orvane::kStarted);
        ASSERT_TRUE(client.Wait());
        EXPECT_TRUE(parse->ReadPage(*client.answer.response, text));
        EXPECT_NE(text.find("Harbor Lights"), std::string::npos);
    }
    std::string cookies = parse->GetCookies();
    EXPECT_NE(cookies.find("vx_session="), std::string::npos) << cookies;
    EXPECT_NE(cookies.find("vx_theme=light"), std::string::npos) << cookies;
    {
        WaitingClient client;
        ASSERT_EQ(parse->StartPageRequest(page, client, false), Orvane::kStarted);
        ASSERT_TRUE(client.Wait());
        EXPECT_TRUE(parse->ReadPage(*client.answer.response, text));
    }
    std::string log = ServiceLog("/comic/harbor.html");
    EXPECT_NE(log.find(R"("Accept-Language": "en-US,en;q=0.8,zh-Hans-CN;q=0.5,zh-Hans;q=0.3")"), std::string::npos)
        << log;
    EXPECT_NE(log.find(R"("Accept-Encoding": "gzip, deflate")"), std::string::npos) << log;
    EXPECT_NE(log.find(R"("Cookie": ")" + cookies + "\""), std::string::npos) << "the second request: " << log;

    // Only a complete answer with status 200 is a page.
    Service().Control("fail", {{"path", "/comic/harbor.html"}, {"status", "404"}});
    {
        WaitingClient client;
        ASSERT_EQ(parse->StartPageRequest(page, client, false), Orvane::kStarted);
        ASSERT_TRUE(client.Wait());
        EXPECT_FALSE(parse->ReadPage(*client.answer.response, text));
    }
    // A request that does not start never completes: the caller ends its step itself.
    WaitingClient never;
    EXPECT_NE(parse->StartPageRequest("no address at all", never, false), Orvane::kStarted);
    EXPECT_FALSE(never.Wait(500));
}

TEST_F(ParseContextTest, PrepareRequestUsesTheProxyOnlyWhenTheScriptAsks) {
    vxtest::TestServer proxyServer;
    std::string error;
    ASSERT_TRUE(proxyServer.Start(&error)) << error;
    context->Database().SetConfig("Proxy", proxyServer.ProxyAddress().c_str());
    for (bool wants : {true, false}) {
        auto parse = Local(wants);
        Service().Control("clear_log");
        // The host resolves only inside the test proxy, so the page arrives only through it.
        WaitingClient client;
        std::string url = "http://vellix-demo.test:" + std::to_string(Service().SitePort()) + "/comic/kite.html";
        ASSERT_EQ(parse->StartPageRequest(url, client, false), Orvane::kStarted);
        ASSERT_TRUE(client.Wait());
        std::string text;
        EXPECT_EQ(parse->ReadPage(*client.answer.response, text), wants);
        std::string log = ServiceLog("/comic/kite.html");
        EXPECT_EQ(log.find("vellix-test-proxy") != std::string::npos, wants) << log;
    }
}

// The forms the service accepted, each as "name=value" pairs in key order joined by "&", once count
// forms have arrived (or time is up).
std::vector<std::string> Stats(size_t count) {
    std::vector<std::string> forms;
    for (int i = 0; i < 100; ++i) {
        if (i && forms.size() >= count)
            break;
        if (i)
            Sleep(50);
        forms.clear();
        JsonValue* list = ParseJsonText(Service().Control("stats"));
        JsonValue* form = nullptr;
        for (int n = 0; JsonGetArrayMember(list, n, form); ++n) {
            std::map<std::string, std::string> fields;
            for (const char* key : {"author", "finished", "intro", "name", "url", "type"}) {
                std::string value;
                if (JsonGetStringMember(form, key, value))
                    fields[key] = value;
            }
            std::string text;
            for (const auto& field : fields)
                text += (text.empty() ? "" : "&") + field.first + "=" + field.second;
            forms.push_back(text + (getDictionarySize(form) == fields.size() ? "" : " and more"));
        }
        if (list)
            deleteValue(&list);
    }
    std::sort(forms.begin(), forms.end());  // requests run in parallel
    return forms;
}

TEST_F(ParseContextTest, StatisticsOncePerAddressAndRun) {
    struct Case {
        const char* url;
        const char* info;
        bool shared;
    } cases[] = {
        {"http://example.test/1",
         R"({"type": "index", "name": "One", "author": "Au", "intro": "In", "finished": true})", true},
        {"http://example.test/1", R"({"type": "index", "name": "One again"})", true},  // reported already
        {"http://example.test/2", R"({"type": "volume", "name": "Two"})", true},       // marked, not sent
        {"http://example.test/2", R"({"type": "index", "name": "Two"})", true},
        {"http://example.test/3", R"({"name": "Three"})", true},
        {"http://example.test/4", R"({"type": "index", "name": "Four"})", false},  // not the service's script
        {"http://example.test/5",
         R"({"type": "index", "stat": "http://example.test/s5", "name": "Five", "finished": 1})", true},
        {"http://example.test/6", R"({"type": "index", "finished": false})", true},  // no name
        {"http://example.test/7", R"({"type": "index", "name": "Seven", "finished": false})", true},
    };
    for (const Case& c : cases) {
        CParseContext parse;
        parse.url = c.url;
        parse.info = ParseJsonText(c.info);
        parse.shared = c.shared;
        parse.ReportStatistics();
    }
    EXPECT_EQ(Stats(3), (std::vector<std::string>{"author=Au&finished=1&intro=In&name=One&url=http://example.test/1",
                                                  "finished=2&name=Seven&url=http://example.test/7",
                                                  "name=Five&url=http://example.test/s5"}));
    // A form sent after all the others: once it is in, any other would be too.
    CParseContext marker;
    marker.url = "http://example.test/marker";
    marker.info = ParseJsonText(R"({"type": "index", "name": "Marker"})");
    marker.ReportStatistics();
    EXPECT_EQ(Stats(4), (std::vector<std::string>{"author=Au&finished=1&intro=In&name=One&url=http://example.test/1",
                                                  "finished=2&name=Seven&url=http://example.test/7",
                                                  "name=Five&url=http://example.test/s5",
                                                  "name=Marker&url=http://example.test/marker"}))
        << "nothing more arrives";
    EXPECT_FALSE(context->MarkReported("http://example.test/6")) << "an address without a name is marked too";
    EXPECT_TRUE(context->MarkReported("http://example.test/4"));
}

TEST_F(ParseContextTest, TheStatisticsRequestOutlivesTheContext) {
    Service().Control("fail", {{"path", "/v2/commit_stat.php"}, {"delay_ms", "700"}});
    {
        auto parse = std::make_shared<CParseContext>();
        parse->url = "http://example.test/late";
        parse->info = ParseJsonText(R"({"type": "index", "name": "Late"})");
        parse->ReportStatistics();
    }
    EXPECT_EQ(Stats(1), std::vector<std::string>{"name=Late&url=http://example.test/late"});
    Sleep(200);  // the completion arrives with the context long gone
}

}  // namespace
