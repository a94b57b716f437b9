// The service's addresses and requests, and the reading of its configuration and script answers,
// against the reference service.
#include "ServiceTestSupport.h"

#include <JsonUtil.h>
#include <ScriptCatalog.h>
#include <ScriptManager.h>
#include <ServiceApi.h>
#include <Tessara.h>
#include <common/Url.h>

#include <gtest/gtest.h>

namespace {

std::string Root() {
    return Service().ServiceUrl("");
}

TEST(ServiceApi, TheTestsTalkToTheirOwnService) {
    EXPECT_EQ(Root(), MakeApiUrl(nullptr));
    std::unique_ptr<Answer> answer = Fetch(SiteListUrl());
    EXPECT_EQ(answer->Status(), 200);
    EXPECT_NE(answer->Body().find("Vellix demo comics"), std::string::npos);
}

TEST(ServiceApi, EndpointAddresses) {
    struct Case {
        std::string got;
        std::string want;
    } cases[] = {
        {ConfigUrl("zh-cn"), "/v2/config.php?lang=zh-cn"},
        {ScriptUrl("f528764d624db129b32c21fbca0cb8d6"), "/v2/get_script.php?key=f528764d624db129b32c21fbca0cb8d6"},
        {SearchUrl(), "/v2/search.php"},
        {StatisticsUrl(), "/v2/commit_stat.php"},
        {AdvertUrl("", "en"), "/v2/client_ad.php?lang=en&v=2.5.0.35"},
        {RecommendedUrl("zh-cn"), "/recommended.html?lang=zh-cn"},
        {SiteListUrl(), "/site_list.html"},
        {ProxySitesUrl(), "/v2/proxy_sites.php"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, Root() + c.want);
    // An advert address from the catalogue gets the version in place of every "%v".
    EXPECT_EQ(AdvertUrl("http://ads.test/p?v=%v&again=%v", "en"), "http://ads.test/p?v=2.5.0.35&again=2.5.0.35");
    EXPECT_EQ(AdvertUrl("http://ads.test/plain", "en"), "http://ads.test/plain");
}

TEST(ServiceApi, TheConfigurationAnswer) {
    Service().Control("reset");
    std::unique_ptr<Answer> answer = Fetch(ConfigUrl("en"), [](Orvane::OvRequest* r) { PrepareConfigRequest(r, false); });
    ASSERT_TRUE(answer->response);
    ConfigAnswer config = ReadConfigAnswer(*answer->response);
    EXPECT_EQ(config.outcome, kConfigCatalogue);
    JsonValue* catalogue = ParseJsonText(config.body);
    int version = 0;
    JsonValue* versions = nullptr;
    ASSERT_TRUE(lookupDictionaryMember(catalogue, "v", &versions));
    EXPECT_TRUE(JsonGetNumberMember(versions, "f528764d624db129b32c21fbca0cb8d6", version));
    EXPECT_EQ(version, 3);
    deleteValue(&catalogue);
    std::string log = ServiceLog("/v2/config.php");
    EXPECT_NE(log.find("\"Vellix-Version\": \"2.5.0.35\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"lang\": \"en\""), std::string::npos) << log;
}

TEST(ServiceApi, ConfigurationFailures) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> rule;
        ConfigOutcome outcome;
        std::string errorInfo;
    } cases[] = {
        {{{"status", "404"}, {"set_header", "Error-Info:ServiceDown"}}, kConfigNotFound, "ServiceDown"},
        {{{"status", "500"}, {"set_header", "Error-Info:Busy"}}, kConfigFailed, ""},
        {{{"drop", "1"}}, kConfigFailed, ""},
        {{{"set_header", "Error-Info:Notice"}}, kConfigCatalogue, "Notice"},
    };
    for (const Case& c : cases) {
        Service().Control("reset");
        auto rule = c.rule;
        rule.push_back({"path", "/v2/config.php"});
        Service().Control("fail", rule);
        std::unique_ptr<Answer> answer = Fetch(ConfigUrl("en"), [](Orvane::OvRequest* r) { PrepareConfigRequest(r, false); });
        ASSERT_TRUE(answer->response);
        ConfigAnswer config = ReadConfigAnswer(*answer->response);
        EXPECT_EQ(config.outcome, c.outcome) << c.errorInfo;
        EXPECT_EQ(config.errorInfo, c.errorInfo);
    }
    Service().Control("reset");
}

TEST(ServiceApi, SearchKinds) {
    struct Case {
        bool byName, byAuthor;
        const char* kind;
    } cases[] = {{true, false, "n"}, {false, true, "a"}, {true, true, "na"}, {false, false, "na"}};
    for (const Case& c : cases) {
        Service().Control("reset");
        std::unique_ptr<Answer> answer = Fetch(SearchUrl(), [&](Orvane::OvRequest* r) {
            PrepareSearchRequest(r, "\xE6\x9C\x88\xE4\xB8\x8B", c.byName, c.byAuthor);  // "月下"
        });
        EXPECT_EQ(answer->Status(), 200);
        std::string log = ServiceLog("/v2/search.php");
        EXPECT_NE(log.find(std::string("\"t\": \"") + c.kind + "\""), std::string::npos) << c.kind << log;
        EXPECT_NE(log.find("\"q\": \"\xE6\x9C\x88\xE4\xB8\x8B\""), std::string::npos) << log;
        // The GBK comic is found by its name, not by its author.
        bool found = answer->Body().find("yuexia") != std::string::npos;
        EXPECT_EQ(found, c.byName || !c.byAuthor) << c.kind << answer->Body();
    }
}

TEST(ServiceApi, TheScriptAnswerIsReadOnce) {
    Service().Control("reset");
    std::unique_ptr<Answer> answer = Fetch(ScriptUrl(DemoKey()));
    ASSERT_TRUE(answer->response);
    ScriptFetchResult result(*answer->response);
    EXPECT_TRUE(result.error.empty());
    EXPECT_FALSE(result.body.empty());
    ScriptInfo info = ReadScriptInfo(result.info, result.body.size());
    EXPECT_EQ(info.size, result.body.size());
    EXPECT_FALSE(info.adults);
    EXPECT_EQ(info.version, 3);

    answer = Fetch(ScriptUrl(CatalogueKey("missing.vellix-demo.test")));
    ASSERT_TRUE(answer->response);
    ScriptFetchResult missing(*answer->response);
    EXPECT_EQ(missing.error, "No script is available for this site.");
    EXPECT_TRUE(missing.body.empty());
    EXPECT_TRUE(missing.info.empty());
}

TEST(ServiceApi, ScriptInfoFallbacks) {
    struct Case {
        const char* header;
        size_t size;
        bool adults;
        int version;
    } cases[] = {
        {R"({"s":5,"a":true,"v":2})", 5, true, 2},
        {"", 10, false, 0},
        {"not json", 10, false, 0},
        {"[5, true, 2]", 10, false, 0},
        {R"({"s":"5","a":1,"v":"2"})", 10, false, 0},
        {R"({"s":10})", 10, false, 0},
        {R"({"s":11})", 10, false, 0},  // beyond the body: the whole body
        {R"({"s":-1})", 10, false, 0},
        {R"({"s":0})", 0, false, 0},
        {R"({"s":4.9})", 4, false, 0},
        {R"({"v":0})", 10, false, 0},
        {R"({"v":-3})", 10, false, 0},
        {R"({"v":7.5,"a":false})", 10, false, 7},
    };
    for (const Case& c : cases) {
        ScriptInfo info = ReadScriptInfo(c.header, 10);
        EXPECT_EQ(info.size, c.size) << c.header;
        EXPECT_EQ(info.adults, c.adults) << c.header;
        EXPECT_EQ(info.version, c.version) << c.header;
    }
}

// The proxied sites are the names the catalogue lookup answers with.
TEST(ServiceApi, TheProxySitesAnswer) {
    ServiceContext ctx;
    ASSERT_TRUE(ctx.LoadCatalogue());
    std::unique_ptr<Answer> answer =
        Fetch(ProxySitesUrl(), [](Orvane::OvRequest* r) { PrepareProxySitesRequest(r, false, 10); });
    ASSERT_TRUE(answer->response);
    std::vector<std::string> domains;
    ASSERT_TRUE(ReadProxySites(*answer->response, domains));
    EXPECT_EQ(domains, (std::vector<std::string>{"127.0.0.1", "broken.vellix-demo.test", "future.vellix-demo.test",
                                                 "missing.vellix-demo.test", "vellix-demo.test"}));
    for (const std::string& domain : domains) {
        SiteInfo site;
        EXPECT_TRUE(ctx->Catalog().FindSite(domain, site)) << domain;
        EXPECT_EQ(site.name, domain);
    }
    for (const char* status : {"404", "500"}) {
        Service().Control("fail", {{"path", "/v2/proxy_sites.php"}, {"status", status}, {"body", "[\"a.test\"]"},
                                   {"count", "1"}});
        std::unique_ptr<Answer> failed = Fetch(ProxySitesUrl());
        ASSERT_TRUE(failed->response) << status;
        EXPECT_FALSE(ReadProxySites(*failed->response, domains)) << status;
        EXPECT_TRUE(domains.empty()) << status;
    }
}

TEST(ServiceApi, ProxySitesBodies) {
    struct Case {
        const char* body;
        bool ok;
        std::vector<std::string> domains;
    };
    const Case cases[] = {
        {"[\"b.test\", \"a.test\", \"a.test.x\"]", true, {"a.test", "a.test.x", "b.test"}},
        {"[]", true, {}},
        // A repeated name would give two rows for one setting.
        {"[\"A.Test\", \"a.test\", \"a.TEST\"]", true, {"a.test"}},
        // Entries that are no host name, or no text, are dropped; the rest stays.
        {"[1, null, \"\", \"ok.test\", [\"x.test\"], {\"h\": \"y.test\"}, \"<b>x</b>\", \"a b\", \"a/b\", \"..\\\\x\"]",
         true, {"ok.test"}},
        {"[\"\u00fcber.test\"]", true, {"\xc3\xbc" "ber.test"}},
        {"{\"sites\": [\"a.test\"]}", false, {}},
        {"\"a.test\"", false, {}},
        {"[\"a.test\"", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> domains = {"left.over"};
        EXPECT_EQ(ParseProxySites(c.body, domains), c.ok) << c.body;
        EXPECT_EQ(domains, c.domains) << c.body;
    }
    std::string longName(254, 'a');
    std::vector<std::string> domains;
    EXPECT_TRUE(ParseProxySites("[\"" + longName + "\", \"" + longName.substr(1) + "\"]", domains));
    EXPECT_EQ(domains, std::vector<std::string>{longName.substr(1)});
}

}  // namespace
