// The script manager: finding a host's script in memory, in the script cache or not at all,
// loading the service's answer with its "Script-Info", caching it, and releasing. Scripts come
// enciphered from the reference service; Python's sqlite3 reads and writes the cache table.
#include "DbTestSupport.h"
#include "ServiceTestSupport.h"

#include <AppDatabase.h>
#include <ScriptCatalog.h>
#include <ScriptManager.h>
#include <ServiceApi.h>

#include <Quillet.h>

#include <gtest/gtest.h>

namespace {

const char kCacheRow[] = "SELECT key, version, length(data) FROM ScriptCache2";

class Sink : public Vellix::MemObject {
public:
    char* Allocate(size_t n) override {
        text.resize(n);
        return &text[0];
    }
    std::string text;
};

std::string Example(Vellix::Script* script) {
    Sink text;
    if (script)
        script->GetExample(&text);
    return text.text;
}

// The script answer for a host of the catalogue entry site (the host itself by default), with the
// service's answer changed by a fail rule first.
ScriptFetchResult FetchScript(const std::string& host,
                              std::vector<std::pair<std::string, std::string>> rule = {},
                              std::string site = std::string()) {
    if (site.empty())
        site = host;
    Service().Control("clear_failures");
    if (!rule.empty()) {
        rule.push_back({"path", "/v2/get_script.php"});
        Service().Control("fail", rule);
    }
    std::unique_ptr<Answer> answer = Fetch(ScriptUrl(CatalogueKey(site)));
    Service().Control("clear_failures");
    ScriptFetchResult result = answer->response ? ScriptFetchResult(*answer->response) : ScriptFetchResult();
    result.host = host;
    result.key = CatalogueKey(site);
    return result;
}

// Returns once every job posted before has run.
void Drain(AppContext& context) {
    GetScriptCache barrier("");
    context.Database().RunSync(&barrier);
}

size_t DemoScriptLength() {
    static size_t length = FetchScript(kDemoHost).body.size();
    return length;
}

class ScriptManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Service().Control("reset");
        ASSERT_GT(DemoScriptLength(), 0u);
    }
    std::wstring File() const { return folder + L"Vellix.dat"; }
    std::string CacheRows() { return Query(File(), kCacheRow); }
    ScopedAppFolder folder;
};

TEST_F(ScriptManagerTest, TheCacheJobsSql) {
    ServiceRun run;
    ASSERT_TRUE(ExecSql(File(), "INSERT INTO ScriptCache2 VALUES('k1', 5, X'00FF0041');"
                                "INSERT INTO ScriptCache2 VALUES('k2', 2, X'');"));
    struct Case {
        const char* key;
        bool found;
        int version;
        std::string data;
    } cases[] = {
        {"k1", true, 5, std::string("\0\xff\0A", 4)},
        {"k2", true, 2, ""},
        {"k3", false, 0, ""},
    };
    for (const Case& c : cases) {
        GetScriptCache job(c.key);
        run->Database().RunSync(&job);
        EXPECT_EQ(job.found, c.found) << c.key;
        EXPECT_EQ(job.version, c.version) << c.key;
        EXPECT_EQ(job.data, c.data) << c.key;
    }
    run->Database().Post(new UpdateScriptCache("k1", 6, std::string("\0b", 2)));
    run->Database().Post(new UpdateScriptCache("k4", 1, "text"));
    Drain(*run);
    EXPECT_EQ(Query(File(), "SELECT key, version, hex(data), typeof(data) FROM ScriptCache2 ORDER BY key"),
              R"([["k1", 6, "0062", "blob"], ["k2", 2, "", "blob"], ["k4", 1, "74657874", "blob"]])");
}

TEST_F(ScriptManagerTest, DownloadThenCacheThenTheNextRunLoadsFromTheCache) {
    {
        ServiceRun run;
        ASSERT_TRUE(run.LoadCatalogue());
        ScriptManager& manager = run->Scripts();
        Vellix::Script* script = nullptr;
        EXPECT_EQ(manager.FindScript("127.0.0.2", script), kScriptNoSite);
        EXPECT_EQ(manager.FindScript(kDemoHost, script), kScriptMustDownload) << "no cached row";
        EXPECT_EQ(script, nullptr);

        ScriptFetchResult result = FetchScript(kDemoHost);
        EXPECT_EQ(manager.LoadDownloaded(result, script), kScriptLoaded);
        ASSERT_NE(script, nullptr);
        EXPECT_FALSE(result.adults);
        EXPECT_EQ(Example(script), Service().SiteUrl("/comic/harbor.html")) << "deciphered and run";
        EXPECT_EQ(manager.GetLoaded(kDemoHost), script);
        EXPECT_EQ(manager.GetLoaded("127.0.0.2"), nullptr);
        Vellix::Script* again = nullptr;
        EXPECT_EQ(manager.FindScript(kDemoHost, again), kScriptLoaded);
        EXPECT_EQ(again, script);
        Drain(*run);
        EXPECT_EQ(CacheRows(), "[[\"" + DemoKey() + "\", 3, " + std::to_string(DemoScriptLength()) + "]]");
    }
    // The next run finds the cached script of the catalogue's version while the service fails.
    Service().Control("fail", {{"path", "/v2/get_script.php"}, {"status", "500"}});
    {
        ServiceRun run;
        ASSERT_TRUE(run.LoadCatalogue());
        Vellix::Script* script = nullptr;
        EXPECT_EQ(run->Scripts().FindScript(kDemoHost, script), kScriptLoaded);
        EXPECT_EQ(Example(script), Service().SiteUrl("/comic/harbor.html"));
    }
    EXPECT_EQ(ServiceLogCount("/v2/get_script.php"), 1) << "only the first run downloaded";
    Service().Control("clear_failures");
}

TEST_F(ScriptManagerTest, TheCachedVersionAgainstTheCatalogue) {
    std::string body = FetchScript(kDemoHost).body;
    struct Case {
        int catalogueVersion;
        int cachedVersion;  // -1: no row
        int result;
    } cases[] = {
        {3, 3, kScriptLoaded},
        {3, 4, kScriptLoaded},
        {3, 2, kScriptMustDownload},
        {3, -1, kScriptMustDownload},
        {0, -1, kScriptMustDownload},  // no row is never a current cache
        {0, 0, kScriptLoaded},
    };
    for (const Case& c : cases) {
        ScopedAppFolder runFolder;
        ServiceRun run;
        std::string catalogue = R"({"v": {")" + DemoKey() + "\": " + std::to_string(c.catalogueVersion) + "}}";
        ASSERT_TRUE(run->Catalog().Load(std::make_shared<std::string>(catalogue)));
        if (c.cachedVersion >= 0)
            run->Database().Post(new UpdateScriptCache(DemoKey(), c.cachedVersion, body));
        Vellix::Script* script = nullptr;
        EXPECT_EQ(run->Scripts().FindScript(kDemoHost, script), c.result)
            << c.catalogueVersion << " / " << c.cachedVersion;
        EXPECT_EQ(script != nullptr, c.result == kScriptLoaded);
    }
}

TEST_F(ScriptManagerTest, ACachedScriptThatFailsIsDownloadedOnce) {
    ASSERT_TRUE(ExecSql(File(), "CREATE TABLE ScriptCache2(key TEXT PRIMARY KEY, version NUMERIC, data BLOB);"
                                "INSERT INTO ScriptCache2 VALUES('" + DemoKey() + "', 3, X'0011223344');"));
    {
        ServiceRun run;
        ASSERT_TRUE(run.LoadCatalogue());
        ScriptManager& manager = run->Scripts();
        Vellix::Script* script = nullptr;
        EXPECT_EQ(manager.FindScript(kDemoHost, script), kScriptMustDownload);
        // The download fails too: the cached bytes are not tried a second time.
        ScriptFetchResult broken = FetchScript(kDemoHost, {{"status", "200"}, {"body", "garbage"}});
        EXPECT_EQ(manager.LoadDownloaded(broken, script), kScriptLoadFailed);
        EXPECT_EQ(manager.FindScript(kDemoHost, script), kScriptLoadFailed);
        EXPECT_EQ(script, nullptr);
        EXPECT_TRUE(manager.scripts.empty());
    }
    {
        ServiceRun run;
        ASSERT_TRUE(run.LoadCatalogue());
        ScriptManager& manager = run->Scripts();
        Vellix::Script* script = nullptr;
        EXPECT_EQ(manager.FindScript(kDemoHost, script), kScriptMustDownload) << "a new run tries again";
        ScriptFetchResult result = FetchScript(kDemoHost);
        EXPECT_EQ(manager.LoadDownloaded(result, script), kScriptLoaded);
        Drain(*run);
    }
    EXPECT_EQ(CacheRows(), "[[\"" + DemoKey() + "\", 3, " + std::to_string(DemoScriptLength()) + "]]");
    {
        ServiceRun run;
        ASSERT_TRUE(run.LoadCatalogue());
        Vellix::Script* script = nullptr;
        EXPECT_EQ(run->Scripts().FindScript(kDemoHost, script), kScriptLoaded) << "the replaced cache loads";
    }
}

TEST_F(ScriptManagerTest, ScriptInfoVariants) {
    const std::string whole = std::to_string(DemoScriptLength());
    const std::string sized = R"({"s":)" + whole + R"(,"a":false,"v":3})";
    struct Case {
        std::vector<std::pair<std::string, std::string>> rule;
        int result;
        bool adults;
        std::string cached;  // rows of the cache table afterwards
    } cases[] = {
        {{}, kScriptLoaded, false, "3, " + whole},
        {{{"del_header", "Script-Info"}}, kScriptLoaded, false, ""},  // whole body, not cached
        {{{"set_header", "Script-Info:not json"}}, kScriptLoaded, false, ""},
        {{{"set_header", R"(Script-Info:{"s":99999999,"v":4})"}}, kScriptLoaded, false, "4, " + whole},
        {{{"set_header", R"(Script-Info:{"s":-5,"v":2})"}}, kScriptLoaded, false, "2, " + whole},
        {{{"set_header", R"(Script-Info:{"v":0,"a":true})"}}, kScriptLoaded, true, ""},
        {{{"set_header", R"(Script-Info:{"v":3,"a":true})"}}, kScriptLoaded, true, "3, " + whole},
        // Bytes after the script are left out by "s" and break it without.
        {{{"append", "trailing bytes"}, {"set_header", "Script-Info:" + sized}}, kScriptLoaded, false, "3, " + whole},
        {{{"append", "trailing bytes"}, {"del_header", "Script-Info"}}, kScriptLoadFailed, false, ""},
        {{{"status", "200"}, {"body", ""}, {"set_header", R"(Script-Info:{"v":3})"}}, kScriptNoBody, false, ""},
        {{{"status", "404"}}, kScriptNoBody, false, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n++);
        ScopedAppFolder runFolder;
        ServiceRun run;
        ASSERT_TRUE(run.LoadCatalogue());
        ScriptFetchResult result = FetchScript(kDemoHost, c.rule);
        Vellix::Script* script = nullptr;
        EXPECT_EQ(run->Scripts().LoadDownloaded(result, script), c.result);
        EXPECT_EQ(result.adults, c.adults);
        EXPECT_EQ(script != nullptr, c.result == kScriptLoaded);
        EXPECT_EQ(run->Scripts().scripts.size(), c.result == kScriptLoaded ? 1u : 0u);
        Drain(*run);
        std::string rows = Query(runFolder + L"Vellix.dat", "SELECT version, length(data) FROM ScriptCache2");
        EXPECT_EQ(rows, c.cached.empty() ? "[]" : "[[" + c.cached + "]]");
    }
}

TEST_F(ScriptManagerTest, ALoadedScriptIsNeverReplaced) {
    ServiceRun run;
    ASSERT_TRUE(run.LoadCatalogue());
    ScriptManager& manager = run->Scripts();
    Vellix::Script* first = nullptr;
    Vellix::Script* second = nullptr;
    ScriptFetchResult result = FetchScript(kDemoHost);
    ASSERT_EQ(manager.LoadDownloaded(result, first), kScriptLoaded);
    ScriptFetchResult adults = FetchScript(kDemoHost, {{"set_header", R"(Script-Info:{"a":true,"v":3})"}});
    EXPECT_EQ(manager.LoadDownloaded(adults, second), kScriptLoaded);
    EXPECT_EQ(second, first);
    EXPECT_TRUE(adults.adults);
    EXPECT_EQ(manager.scripts.size(), 1u);

    // Another host with the same catalogue entry gets a script of its own.
    Vellix::Script* named = nullptr;
    ScriptFetchResult other = FetchScript("www.vellix-demo.test", {}, "vellix-demo.test");
    EXPECT_EQ(manager.LoadDownloaded(other, named), kScriptLoaded);
    EXPECT_NE(named, first);
    EXPECT_TRUE(other.adults) << "the named host's entry is for adults";
    EXPECT_EQ(manager.scripts.size(), 2u);

    // A script that does not load leaves the map alone.
    Vellix::Script* broken = nullptr;
    ScriptFetchResult bad = FetchScript("broken.vellix-demo.test");
    EXPECT_FALSE(bad.body.empty());
    EXPECT_EQ(manager.LoadDownloaded(bad, broken), kScriptLoadFailed);
    EXPECT_EQ(broken, nullptr);
    EXPECT_EQ(manager.scripts.size(), 2u);

    manager.ReleaseAll();
    EXPECT_TRUE(manager.scripts.empty());
    EXPECT_EQ(manager.GetLoaded(kDemoHost), nullptr);
}

TEST_F(ScriptManagerTest, AProxiedSiteGetsTheConfiguredProxy) {
    ServiceRun run;
    ASSERT_TRUE(run.LoadCatalogue());
    run->Database().SetConfig("Proxy", "127.0.0.1:3128");
    run->Database().SetConfig("ProxyType", "5");
    run->Database().SetProxyDomain("vellix-demo.test", true);
    struct Case {
        const char* host;
        const char* site;
        const char* proxy;
        int type;
    } cases[] = {{"www.vellix-demo.test", "vellix-demo.test", "127.0.0.1:3128", 5}, {kDemoHost, kDemoHost, "", -1}};
    for (const Case& c : cases) {
        Vellix::Script* script = nullptr;
        ScriptFetchResult result = FetchScript(c.host, {}, c.site);
        ASSERT_EQ(run->Scripts().LoadDownloaded(result, script), kScriptLoaded) << c.host;
        Sink proxy;
        script->GetString("Proxy", &proxy);
        EXPECT_EQ(proxy.text, c.proxy) << c.host;
        EXPECT_EQ(script->GetInteger("ProxyType", -1), c.type) << c.host;
    }
    // Without a configured proxy the database gives none.
    run->Database().SetConfig("Proxy", "");
    Vellix::Script* plain = run->Scripts().GetLoaded(kDemoHost);
    run->Database().ApplyProxy(plain);
    Sink none;
    plain->GetString("Proxy", &none);
    EXPECT_EQ(none.text, "");
    run->Database().SetConfig("Proxy", "127.0.0.1:3128");

    // From the cache too.
    Drain(*run);
    run->Scripts().ReleaseAll();
    Vellix::Script* script = nullptr;
    ASSERT_EQ(run->Scripts().FindScript("www.vellix-demo.test", script), kScriptLoaded);
    Sink proxy;
    script->GetString("Proxy", &proxy);
    EXPECT_EQ(proxy.text, "127.0.0.1:3128");
}

TEST_F(ScriptManagerTest, AScriptInUseOutlivesReleaseAll) {
    ServiceRun run;
    ASSERT_TRUE(run.LoadCatalogue());
    ScriptManager& manager = run->Scripts();
    Vellix::Script* script = nullptr;
    ScriptFetchResult result = FetchScript(kDemoHost);
    ASSERT_EQ(manager.LoadDownloaded(result, script), kScriptLoaded);
    std::shared_ptr<ScriptLifetimes> lifetimes = manager.Lifetimes();
    {
        ScriptUse use(lifetimes, script);
        ASSERT_TRUE(use);
        manager.ReleaseAll();
        EXPECT_TRUE(manager.scripts.empty());
        EXPECT_FALSE(ScriptUse(lifetimes, script)) << "no new user after the release";
        // Still whole for the user inside it.
        EXPECT_EQ(Example(script), Service().SiteUrl("/comic/harbor.html"));
    }
    EXPECT_FALSE(ScriptUse(lifetimes, script));
    EXPECT_FALSE(ScriptUse(lifetimes, nullptr));
}

}  // namespace
