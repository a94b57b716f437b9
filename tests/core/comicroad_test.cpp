// The road of one comic through the application core: a pasted address of the demo site, the
// catalogue and the script from the reference service, the page fetched and parsed on the request
// worker, the volumes, one volume's images listed on a worker thread while the scripts are
// released, a page image fetched as the list says, and the statistics sent once.
#include "ServiceTestSupport.h"

#include <JsonUtil.h>
#include <ParseContext.h>
#include <ScriptCatalog.h>
#include <ScriptManager.h>
#include <ServiceApi.h>
#include <Tessara.h>
#include <common/Url.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

class Notes : public Vellix::NotifyCallback {
public:
    void OnCount(int count) override { lines.push_back("count:" + std::to_string(count)); }
    void OnURL(const char* url) override { lines.push_back(std::string("URL:") + url); }
    std::vector<std::string> lines;
};

std::string Member(JsonValue* dict, const char* name) {
    std::string value;
    JsonGetStringMember(dict, name, value);
    return value;
}

const char kMarker[] = "Marker";

// Sends one more form, after all that the test did, and waits until the service has it: a form
// still to come from before would be in by then. The forms the service holds, as JSON text.
std::string StatsAfterAMarker(const std::string& address) {
    CParseContext marker;
    marker.url = address;
    marker.info = ParseJsonText(R"({"type": "index", "name": "Marker"})");
    marker.ReportStatistics();
    std::string stats = Service().Control("stats");
    for (int i = 0; i < 200 && stats.find(kMarker) == std::string::npos; ++i) {
        Sleep(50);
        stats = Service().Control("stats");
    }
    return stats;
}

TEST(ComicRoad, FromAPastedAddressToTheImagesOfAVolume) {
    Service().Control("reset");
    ServiceContext context;
    ASSERT_TRUE(context.LoadCatalogue());

    std::string address = Service().SiteUrl("/m/comic/harbor.html");  // pasted from a phone
    UrlMap parts;
    ASSERT_TRUE(ParseUrl(parts, address.c_str()));
    const std::string host = parts.Get("host");
    EXPECT_TRUE(HasScriptForSite(host));
    EXPECT_FALSE(HasScriptForSite("comics.example.net"));

    auto parse = std::make_shared<CParseContext>();
    Vellix::Script* script = ScriptFor(*context, host);
    ASSERT_NE(script, nullptr);
    parse->SetSharedScript(script, context->Scripts().Lifetimes());
    std::string version;
    EXPECT_FALSE(parse->CheckVersion(version)) << "the demo script needs no newer program";
    parse->BeforeNavigate(address);
    EXPECT_EQ(address, Service().SiteUrl("/comic/harbor.html"));

    PageLoader loader(parse);
    ASSERT_TRUE(loader.Load(address)) << parse->GetLastError();
    EXPECT_NE(loader.worker, GetCurrentThreadId());
    EXPECT_EQ(parse->url, address);
    EXPECT_EQ(Member(parse->info, "type"), "index");
    EXPECT_EQ(Member(parse->info, "name"), "Harbor Lights");
    EXPECT_EQ(Member(parse->info, "author"), "Mara Quint");
    EXPECT_EQ(Member(parse->info, "category"), "Drama");
    EXPECT_EQ(Member(parse->info, "cover"), Service().SiteUrl("/cover/harbor.jpg"));
    EXPECT_NE(Member(parse->info, "intro").find("<b>three winters</b>"), std::string::npos);
    bool finished = false;
    EXPECT_TRUE(parse->IsFinished(&finished));
    EXPECT_TRUE(finished);

    JsonValue* volumes = nullptr;
    ASSERT_TRUE(parse->ParseVolumes(volumes));
    ASSERT_EQ(getArraySize(volumes), 3u);
    JsonValue* second = nullptr;
    ASSERT_TRUE(JsonGetArrayMember(volumes, 1, second));
    EXPECT_EQ(Member(second, "title"), "Volume 2");
    const std::string volumeUrl = Member(second, "url");
    EXPECT_EQ(volumeUrl, Service().SiteUrl("/comic/harbor/vol-2.html"));
    deleteValue(&volumes);

    // The grab worker lists the images while the main window goes away and releases the scripts:
    // the script stays whole until the worker is out of it.
    Service().Control("fail", {{"path", "/comic/harbor/vol-2.html"}, {"delay_ms", "800"}});
    const std::string cookies = parse->GetCookies();
    EXPECT_NE(cookies.find("vx_session="), std::string::npos) << cookies;
    Notes notes;
    JsonValue* images = nullptr;
    bool listed = false;
    std::thread grab([&] { listed = parse->ParseImages(images, volumeUrl, &notes); });
    Sleep(300);
    context->Scripts().ReleaseAll();
    grab.join();
    ASSERT_TRUE(listed) << parse->GetLastError();
    ASSERT_EQ(getArraySize(images), 4u);
    EXPECT_EQ(notes.lines.front(), "count:4");
    EXPECT_EQ(notes.lines.size(), 5u);
    JsonValue* first = nullptr;
    ASSERT_TRUE(JsonGetArrayMember(images, 0, first));
    const std::string image = Member(first, "url");
    EXPECT_EQ(image, Service().SiteUrl("/img/harbor/vol-2/1.png"));
    EXPECT_EQ(Member(first, "ref"), volumeUrl);
    EXPECT_EQ(notes.lines[1], "URL:" + image);
    deleteValue(&images);
    // Released: the context no longer reaches the script.
    EXPECT_EQ(parse->GetCookies(), "");
    EXPECT_EQ(parse->GetLastError(), "");

    // The image answers with the referer from the list and the cookies of the page.
    std::unique_ptr<Answer> picture = Fetch(image, [&](Orvane::OvRequest* r) {
        r->SetHeader("Referer", volumeUrl.c_str());
        r->SetHeader("Cookie", cookies.c_str());
    });
    EXPECT_EQ(picture->Status(), 200);
    EXPECT_EQ(picture->Body().compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
    EXPECT_EQ(Fetch(image)->Status(), 403) << "without them";

    parse->ReportStatistics();
    parse->ReportStatistics();
    JsonValue* stats = ParseJsonText(StatsAfterAMarker("http://marker.test/road"));
    ASSERT_EQ(getArraySize(stats), 2u) << "one form, and the marker";
    JsonValue* form = nullptr;
    ASSERT_TRUE(JsonGetArrayMember(stats, 0, form));
    if (Member(form, "name") == kMarker) {
        ASSERT_TRUE(JsonGetArrayMember(stats, 1, form));
    }
    EXPECT_EQ(Member(form, "name"), "Harbor Lights");
    EXPECT_EQ(Member(form, "url"), address);
    EXPECT_EQ(Member(form, "author"), "Mara Quint");
    EXPECT_EQ(Member(form, "finished"), "1");
    deleteValue(&stats);
}

TEST(ComicRoad, AGbkComicAndASingleVolumePage) {
    Service().Control("reset");
    ServiceContext context;
    ASSERT_TRUE(context.LoadCatalogue());
    Vellix::Script* script = ScriptFor(*context, kDemoHost);
    ASSERT_NE(script, nullptr);

    auto comic = std::make_shared<CParseContext>();
    comic->SetSharedScript(script, context->Scripts().Lifetimes());
    PageLoader loader(comic);
    ASSERT_TRUE(loader.Load(Service().SiteUrl("/comic/yuexia.html"))) << comic->GetLastError();
    EXPECT_EQ(Member(comic->info, "name"), "\xE6\x9C\x88\xE4\xB8\x8B\xE4\xB9\xA6\xE5\xBA\x93");  // 月下书库
    bool finished = true;
    EXPECT_TRUE(comic->IsFinished(&finished));
    EXPECT_FALSE(finished);

    // A volume page is parsed as one volume; its statistics are never sent.
    auto volume = std::make_shared<CParseContext>();
    volume->SetSharedScript(script, context->Scripts().Lifetimes());
    PageLoader single(volume);
    ASSERT_TRUE(single.Load(Service().SiteUrl("/comic/kite/complete.html"))) << volume->GetLastError();
    EXPECT_EQ(Member(volume->info, "type"), "volume");
    EXPECT_EQ(Member(volume->info, "volname"), "Complete");
    volume->ReportStatistics();
    JsonValue* stats = ParseJsonText(StatsAfterAMarker("http://marker.test/single"));
    ASSERT_EQ(getArraySize(stats), 1u) << "only the marker";
    JsonValue* form = nullptr;
    ASSERT_TRUE(JsonGetArrayMember(stats, 0, form));
    EXPECT_EQ(Member(form, "name"), kMarker);
    deleteValue(&stats);
}

}  // namespace
