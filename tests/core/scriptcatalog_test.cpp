// The site catalogue: loading, lookups by the MD5 of a host and its dot-suffixes, the texts of the
// main window, the saved copy of a developer run, and whether a host has a script at all.
#include "ServiceTestSupport.h"

#include <JsonUtil.h>
#include <ScriptCatalog.h>
#include <Tessara.h>
#include <common/CodePage.h>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<std::string> Text(const std::string& text) {
    return std::make_shared<std::string>(text);
}

// Keys are the MD5 digests of the names in the comments, as the service computes them.
const char kSites[] = R"({"v": {
    "4e28e05897892c5707f8ae02929ef952": 7,
    "4a8a08f09d37b73795649038408b5f33": 1,
    "b2d4cd2858ff3eb9db58bdbdaa906e21": "9",
    "415290769594460e2e485922904f345d": 2.8,
    "67b3dba8bc6778101892eb77249db32e": 4}})";  // b.c, c, x.y (not a number), y, host

TEST(JsonAccessors, OnlyAMemberOfTheRightTypeIsRead) {
    JsonValue* dict = ParseJsonText(R"({"s": "text", "e": "", "n": -2.7, "i": 7, "b": false,
                                        "a": [{"k": 1}, 2, {"k": 3}], "z": null})");
    ASSERT_NE(dict, nullptr);
    std::string text = "kept";
    EXPECT_TRUE(JsonGetStringMember(dict, "s", text));
    EXPECT_EQ(text, "text");
    EXPECT_TRUE(JsonGetStringMember(dict, "e", text));
    EXPECT_EQ(text, "");
    text = "kept";
    for (const char* other : {"n", "b", "a", "z", "missing"})
        EXPECT_FALSE(JsonGetStringMember(dict, other, text)) << other;
    EXPECT_EQ(text, "kept");

    int number = 99;
    EXPECT_TRUE(JsonGetNumberMember(dict, "n", number));
    EXPECT_EQ(number, -2);  // truncated
    EXPECT_TRUE(JsonGetNumberMember(dict, "i", number));
    EXPECT_EQ(number, 7);
    EXPECT_FALSE(JsonGetNumberMember(dict, "s", number));
    bool flag = true;
    EXPECT_TRUE(JsonGetBooleanMember(dict, "b", flag));
    EXPECT_FALSE(flag);
    EXPECT_FALSE(JsonGetBooleanMember(dict, "i", flag));

    JsonValue* array = nullptr;
    EXPECT_FALSE(JsonGetArrayValue(dict, "s", array));
    ASSERT_TRUE(JsonGetArrayValue(dict, "a", array));
    struct Case {
        int index;
        bool found;
        int k;
    } cases[] = {{0, true, 1}, {1, false, 0}, {2, true, 3}, {-1, true, 3}, {3, false, 0}, {-2, false, 0}};
    for (const Case& c : cases) {
        JsonValue* member = nullptr;
        EXPECT_EQ(JsonGetArrayMember(array, c.index, member), c.found) << c.index;
        int k = 0;
        JsonGetNumberMember(member, "k", k);
        EXPECT_EQ(k, c.k) << c.index;
    }
    JsonValue* member = nullptr;
    EXPECT_FALSE(JsonGetArrayMember(dict, 0, member)) << "not an array";
    EXPECT_FALSE(JsonGetStringMember(nullptr, "s", text));
    deleteValue(&dict);
    EXPECT_EQ(ParseJsonText(""), nullptr);
    EXPECT_EQ(ParseJsonText("{broken"), nullptr);
}

TEST(ScriptCatalog, FindSiteTriesTheHostAndItsSuffixesLongestFirst) {
    ScriptCatalog catalog;
    ASSERT_TRUE(catalog.Load(Text(kSites)));
    struct Case {
        const char* host;
        bool found;
        int version;
        const char* name;
    } cases[] = {
        {"a.b.c", true, 7, "b.c"},
        {"b.c", true, 7, "b.c"},
        {"z.a.b.c", true, 7, "b.c"},
        {"a.c", true, 1, "c"},
        {"x.y", true, 2, "y"},  // a member that is no number is passed over
        {"host", true, 4, "host"},
        {"HOST", true, 4, "host"},
        {"A.B.C", true, 7, "b.c"},
        {"other", false, 0, ""},
        {"c.other", false, 0, ""},
        {"", false, 0, ""},
    };
    for (const Case& c : cases) {
        SiteInfo site;
        EXPECT_EQ(catalog.FindSite(c.host, site), c.found) << c.host;
        EXPECT_EQ(site.version, c.version) << c.host;
        EXPECT_EQ(site.name, c.name) << c.host;
        if (c.found) {
            EXPECT_EQ(site.key, CatalogueKey(c.name)) << c.host;
        }
    }
    EXPECT_EQ(CatalogueKey("b.c"), "4e28e05897892c5707f8ae02929ef952");
}

TEST(ScriptCatalog, OnlyADictionaryLoads) {
    struct Case {
        const char* text;
        bool loads;
    } cases[] = {
        {"", false}, {"not json", false}, {"[1, 2]", false}, {"\"v\"", false},
        {"{}", true}, {R"({"v": []})", true}, {R"({"v": {}, "b": 3})", true},
    };
    for (const Case& c : cases) {
        ScriptCatalog catalog;
        EXPECT_EQ(catalog.Load(Text(c.text)), c.loads) << c.text;
        EXPECT_EQ(catalog.root != nullptr, c.loads) << c.text;
        EXPECT_EQ(catalog.broadcasts, nullptr) << c.text;
        SiteInfo site;
        EXPECT_FALSE(catalog.FindSite("host", site)) << c.text;
        std::wstring text, link;
        ScriptCatalog::SetEntryPosition(0);
        EXPECT_FALSE(catalog.GetEntry(text, link)) << c.text;
        EXPECT_FALSE(catalog.IsSearchDisabled());
    }
    ScriptCatalog catalog;
    EXPECT_FALSE(catalog.Load(nullptr));
}

TEST(ScriptCatalog, AdvertStartPageBroadcastsAndSearchSwitch) {
    ScriptCatalog catalog;
    ASSERT_TRUE(catalog.Load(Text(
        R"({"e": "http://ads.test/%v", "p": "http://start.test/", "sd": true,
            "b": [{"n": "\u6b22\u8fce", "u": "http://news.test/1"}, 5, {"n": "only a name"}]})")));
    std::string advert = "old", start = "old";
    EXPECT_TRUE(catalog.GetAdUrls(advert, start));
    EXPECT_EQ(advert, "http://ads.test/%v");
    EXPECT_EQ(start, "http://start.test/");
    EXPECT_TRUE(catalog.IsSearchDisabled());
    ASSERT_EQ(catalog.BroadcastCount(), 3);

    struct Case {
        int position;
        bool found;
        std::wstring text, link;
    } cases[] = {
        {-1, false, L"", L""},  // before the ticker's first step
        {0, true, L"\u6b22\u8fce", L"http://news.test/1"},
        {1, false, L"", L""},  // not a dictionary
        {2, true, L"only a name", L""},
        {3, false, L"", L""},
    };
    for (const Case& c : cases) {
        ScriptCatalog::SetEntryPosition(c.position);
        std::wstring text, link;
        EXPECT_EQ(catalog.GetEntry(text, link), c.found) << c.position;
        EXPECT_EQ(text, c.text) << c.position;
        EXPECT_EQ(link, c.link) << c.position;
    }
    ScriptCatalog::SetEntryPosition(-1);

    ScriptCatalog other;
    ASSERT_TRUE(other.Load(Text(R"({"e": 5, "sd": 1})")));
    advert = start = "kept";
    EXPECT_FALSE(other.GetAdUrls(advert, start));
    EXPECT_EQ(advert, "kept");
    EXPECT_EQ(start, "kept");
    EXPECT_FALSE(other.IsSearchDisabled());
}

TEST(ScriptCatalog, TheServiceCatalogue) {
    ServiceContext context;
    ASSERT_TRUE(context.LoadCatalogue());
    ScriptCatalog& catalog = context->Catalog();
    struct Case {
        const char* host;
        bool found;
        int version;
    } cases[] = {
        {"127.0.0.1", true, 3},
        {"www.vellix-demo.test", true, 3},
        {"future.vellix-demo.test", true, 1},
        {"missing.vellix-demo.test", true, 1},
        {"127.0.0.2", false, 0},
    };
    for (const Case& c : cases) {
        SiteInfo site;
        EXPECT_EQ(catalog.FindSite(c.host, site), c.found) << c.host;
        EXPECT_EQ(site.version, c.version) << c.host;
    }
    ScriptCatalog::SetEntryPosition(1);
    std::wstring text, link;
    EXPECT_TRUE(catalog.GetEntry(text, link));
    EXPECT_EQ(text, L"New: Harbor Lights is finished");
    EXPECT_EQ(link, ToWide(Service().SiteUrl("/comic/harbor.html"), CP_UTF8));
    ScriptCatalog::SetEntryPosition(-1);
}

class DeveloperCatalogTest : public ::testing::Test {
protected:
    std::string Narrow(const std::wstring& text) { return ToNarrow(text, CP_UTF8); }
    ScopedAppFolder folder;
};

TEST(DeveloperCatalog, SaveCloudKeepsACopyOfTheTextAsReceived) {
    // One run each: the writer replaces the file without sharing, so a second write could meet
    // this test reading the first one.
    for (const char* text : {R"({"v": {}, "note": "as received"})", "broken"}) {
        ScopedAppFolder folder;
        WriteBytes(folder + L"debug.ini", "[Config]\nSaveCloud=1\n");
        AppContext context;
        context.Catalog().Load(Text(text));
        EXPECT_TRUE(PumpUntil([&] { return ReadBytes(folder + L"Save\\config.txt") == text; })) << text;
    }
}

TEST_F(DeveloperCatalogTest, WithoutTheSwitchNothingIsSaved) {
    WriteBytes(folder + L"debug.ini", "[Config]\nPackage=0\n");
    AppContext context;
    ASSERT_TRUE(context.Catalog().Load(Text("{}")));
    Sleep(200);
    EXPECT_FALSE(Exists(folder + L"Save\\config.txt"));
}

TEST_F(DeveloperCatalogTest, HasScriptForSite) {
    WriteBytes(folder + L"override.lua", "-- override");
    CreateDirectoryW((folder + L"Packages").c_str(), nullptr);
    WriteBytes(folder + L"Packages\\packaged.test.vxpkg", "package");
    WriteBytes(folder + L"debug.ini", "[Config]\nPackage=1\n[Scripts]\noverride.test=" +
                                          Narrow(folder + L"override.lua") +
                                          "\ngone.test=" + Narrow(folder + L"gone.lua") + "\n");
    EXPECT_FALSE(HasScriptForSite("b.c")) << "no context";
    AppContext context;
    ASSERT_TRUE(context.Catalog().Load(Text(kSites)));
    struct Case {
        const char* host;
        bool has;
    } cases[] = {
        {"override.test", true},  {"packaged.test", true}, {"a.b.c", true}, {"gone.test", false},
        {"nothing.test", false}, {"packaged.test.other", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasScriptForSite(c.host), c.has) << c.host;
}

}  // namespace
