// vxapi2.HttpGet against the local test server: header values (not their order, which Dornet does
// not keep: it holds request headers by name), cookies in and out, referer, proxy from the host
// table and from the Internet Explorer settings, bodies of error pages, failures and the time-out;
// and a delivered site script end to end.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IEProxySettings.h"
#include "QuilletTestSupport.h"
#include "Tessara.h"
#include "TestServer.h"

using namespace qtest;

namespace {

const char kUserAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)";
const char kAcceptLanguage[] = "en-US,en;q=0.8,zh-Hans-CN;q=0.5,zh-Hans;q=0.3";

std::string LuaQuote(const std::string& text) {
    return "[==[" + text + "]==]";
}

// The probe's answer as a C++ value: the body when HttpGet gave a string, "<nil>" when it gave nil.
std::string Fetched(Vellix::Script* script, const std::string& call) {
    std::string answer = Probe(script, "return " + call);
    JsonParseSource* source = startParseMemory(answer.c_str(), 0);
    JsonValue* value = jsonParse(source);
    finishParsing(&source);
    std::string result = "<bad answer: " + answer + ">";
    JsonValue* type = nullptr;
    JsonValue* body = nullptr;
    if (getArrayMember(value, 0, &type)) {
        if (std::string(getCString(type)) == "nil")
            result = "<nil>";
        else if (getArrayMember(value, 1, &body))
            result.assign(getCString(body), getStringLength(body));
    }
    deleteValue(&value);
    return result;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Header lines of an echoed request, in arrival order.
std::vector<std::string> HeaderLines(const std::string& echo) {
    std::vector<std::string> lines = Lines(echo);
    std::vector<std::string> headers;
    for (size_t i = 1; i < lines.size() && !lines[i].empty(); ++i)
        headers.push_back(lines[i]);
    return headers;
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    return out;
}

std::set<std::string> CookieSet(Vellix::Script* script) {
    StrSink sink;
    script->GetCookies(&sink);
    std::set<std::string> out;
    std::istringstream in(sink.text);
    for (std::string piece; std::getline(in, piece, ';');)
        out.insert(piece);
    return out;
}

class HttpGetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new vxtest::TestServer;
        std::string error;
        if (!server_->Start(&error)) {
            delete server_;
            server_ = nullptr;
            FAIL() << "test server: " << error;
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(nullptr, server_);
        script_ = LoadDelivered("probe.lua");
        ASSERT_NE(nullptr, script_);
    }
    void TearDown() override { VxReleaseScript(&script_); }

    static std::string U(const std::string& path) { return server_->Url(path); }
    // An address that only the test proxy resolves.
    static std::string ProxyOnly(const std::string& path) {
        return "http://site.test:" + std::to_string(server_->Ports().http) + path;
    }
    std::string Get(const std::string& args) { return Fetched(script_, "vxapi2.HttpGet(" + args + ")"); }

    static vxtest::TestServer* server_;
    Vellix::Script* script_ = nullptr;
};

vxtest::TestServer* HttpGetTest::server_ = nullptr;

TEST_F(HttpGetTest, HeaderValues) {
    script_->SetCookie("sid", "abc");
    std::string echo = Get(LuaQuote(U("/echo/h")) + ", 'http://ref.test/page', 'extra=2'");
    std::vector<std::string> headers = HeaderLines(echo);
    ASSERT_FALSE(headers.empty()) << echo;
    EXPECT_EQ("GET /echo/h HTTP/1.1", Lines(echo)[0]);

    const std::vector<std::string> expected = {
        std::string("User-Agent: ") + kUserAgent,
        "Referer: http://ref.test/page",
        "Cookie: sid=abc;extra=2",
        "Accept-Encoding: gzip, deflate",
        std::string("Accept-Language: ") + kAcceptLanguage,
    };
    for (const std::string& line : expected) {
        std::string name = line.substr(0, line.find(':') + 1);
        EXPECT_EQ(std::vector<std::string>{line}, WithPrefix(headers, name)) << echo;
    }
}

TEST_F(HttpGetTest, OptionalRefererAndCookie) {
    struct Case {
        const char* extra;  // the arguments after the address
        bool programCookie;
        const char* referer;  // the expected line, "" for none
        const char* cookie;
    };
    const Case cases[] = {
        {"", false, "", ""},
        {", nil, 'only=1'", false, "", "Cookie: only=1"},
        {", nil, ''", false, "", ""},
        {", {}, {}", false, "", ""},
        {", 'http://r.test/'", true, "Referer: http://r.test/", "Cookie: p=1"},
        {", 42, ''", true, "Referer: 42", "Cookie: p=1"},
    };
    for (const Case& c : cases) {
        script_->SetCookie("p", c.programCookie ? "1" : nullptr);
        std::vector<std::string> headers = HeaderLines(Get(LuaQuote(U("/echo")) + c.extra));
        ASSERT_FALSE(headers.empty()) << c.extra;
        std::vector<std::string> referer = WithPrefix(headers, "Referer:");
        std::vector<std::string> cookie = WithPrefix(headers, "Cookie:");
        EXPECT_EQ(*c.referer ? std::vector<std::string>{c.referer} : std::vector<std::string>{}, referer) << c.extra;
        EXPECT_EQ(*c.cookie ? std::vector<std::string>{c.cookie} : std::vector<std::string>{}, cookie) << c.extra;
    }
}

TEST_F(HttpGetTest, CookiesInAndOut) {
    struct Case {
        std::vector<std::string> setCookies;  // header values the server sends
        std::set<std::string> kept;           // the script's cookies afterwards
    };
    const Case cases[] = {
        {{"sid=abc; Path=/; HttpOnly", "lang=en"}, {"sid=abc", "lang=en"}},
        {{"sid=def; PATH=/; EXPIRES=Wed, 01 Jan 2031 00:00:00 GMT; SameSite=Lax"}, {"sid=def", "lang=en"}},
        {{"theme=dark"}, {"sid=def", "lang=en", "theme=dark"}},
        {{"lang=; Path=/"}, {"sid=def", "theme=dark"}},
        {{"; ; x"}, {"sid=def", "theme=dark"}},
    };
    for (const Case& c : cases) {
        std::string path = "/headers?";
        for (const std::string& value : c.setCookies) {
            std::string encoded;
            for (char ch : value) {
                if (isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_' || ch == '.')
                    encoded += ch;
                else {
                    char hex[4];
                    snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(ch));
                    encoded += hex;
                }
            }
            path += "h=Set-Cookie%3A" + encoded + "&";
        }
        EXPECT_EQ("headers", Get(LuaQuote(U(path))));
        EXPECT_EQ(c.kept, CookieSet(script_)) << path;
    }
    EXPECT_EQ("[\"string\",\"def\"]", Probe(script_, "return vxapi2.GetCookie('sid')"));
    EXPECT_EQ("[\"nil\"]", Probe(script_, "return vxapi2.GetCookie('lang')"));

    // The kept cookies go out with the next request.
    std::vector<std::string> cookie = WithPrefix(HeaderLines(Get(LuaQuote(U("/echo")))), "Cookie:");
    ASSERT_EQ(1u, cookie.size());
    EXPECT_TRUE(cookie[0] == "Cookie: sid=def;theme=dark" || cookie[0] == "Cookie: theme=dark;sid=def") << cookie[0];
}

TEST_F(HttpGetTest, BodiesAndFailures) {
    struct Case {
        std::string args;
        std::string body;
    };
    const Case cases[] = {
        {LuaQuote(U("/plain")), "hello from the test server\n"},
        {LuaQuote(U("/status/404")), "status 404"},
        {LuaQuote(U("/status/500")), "status 500"},
        {LuaQuote(U("/empty")), ""},
        {LuaQuote(U("/redirect/302?to=/plain")), "hello from the test server\n"},
        {"'http://127.0.0.1:" + std::to_string(server_->Ports().refused) + "/'", "<nil>"},
        {"'not an address'", "<nil>"},
        {LuaQuote(U("/short/1000")), "<nil>"},
        {"{}", "<nil>"},
        {"", "<nil>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.body, Get(c.args)) << c.args;

    // A compressed body arrives decoded, bytes exact.
    EXPECT_EQ("[\"number\",5000]", Probe(script_, "return #vxapi2.HttpGet(" + LuaQuote(U("/encoded/5000")) + ")"));
    EXPECT_EQ("[\"number\",70000]", Probe(script_, "return #vxapi2.HttpGet(" + LuaQuote(U("/bytes/70000")) + ")"));
}

TEST_F(HttpGetTest, ProxyFromTheHostTable) {
    const std::string call = LuaQuote(ProxyOnly("/echo/p"));
    EXPECT_EQ("<nil>", Get(call));  // without a proxy the name does not resolve

    ASSERT_EQ(kScriptOk, script_->SetString("Proxy", server_->ProxyAddress().c_str()));
    std::vector<std::string> headers = HeaderLines(Get(call));
    EXPECT_EQ(std::vector<std::string>{"Via: 1.1 vellix-test-proxy"}, WithPrefix(headers, "Via:"));

    // The script may name a proxy of its own too.
    ASSERT_EQ(kScriptOk, script_->SetString("Proxy", nullptr));
    EXPECT_EQ("[\"boolean\",true]", Probe(script_, "return vxapi2.Set('Proxy', '" + server_->ProxyAddress() + "')"));
    EXPECT_EQ(1u, WithPrefix(HeaderLines(Get(call)), "Via:").size());

    ASSERT_EQ(kScriptOk, script_->SetString("Proxy", ""));  // empty: no proxy
    EXPECT_EQ("<nil>", Get(call));
}

// One blocking request inside an entry point holds the script: a second thread waits for it.
TEST_F(HttpGetTest, RequestsOfTwoThreadsRunOneAfterTheOther) {
    const std::string code = "return vxapi2.HttpGet(" + LuaQuote(U("/slow?ms=700")) + ")";
    std::string answers[2];
    DWORD start = GetTickCount();
    std::thread other([&] { answers[1] = Probe(script_, code); });
    answers[0] = Probe(script_, code);
    other.join();
    DWORD took = GetTickCount() - start;
    EXPECT_EQ("[\"string\",\"slow\"]", answers[0]);
    EXPECT_EQ("[\"string\",\"slow\"]", answers[1]);
    EXPECT_GE(took, 1400u);
}

// The delivered site script: information, volumes and images as JSON text, a page fetched from the
// server with the cookie it set kept, and the navigation hook.
TEST_F(HttpGetTest, DeliveredSiteScriptEndToEnd) {
    ScriptHandle site(LoadDelivered("site.lua"));
    ASSERT_TRUE(site);
    StrSink appVersion;
    EXPECT_FALSE(site->CheckVersion(&appVersion));
    StrSink example;
    EXPECT_TRUE(site->GetExample(&example));
    EXPECT_EQ("http://comics.example/comic/42", example.text);

    std::string page = ReadFile(FixturePath("comic.html"));
    ASSERT_FALSE(page.empty());
    const char* url = "http://comics.example/comic/42";
    StrSink info;
    ASSERT_EQ(kScriptOk, site->ParseInfo(&info, url, page.data(), page.size())) << LastError(site.get());
    JsonParseSource* source = startParseMemory(info.text.c_str(), 0);
    JsonValue* parsed = jsonParse(source);
    finishParsing(&source);
    ASSERT_EQ(JSON_DICTIONARY, getValueType(parsed)) << info.text;
    const std::vector<std::pair<const char*, const char*>> fields = {
        {"name", "Harbour Lights"},
        {"author", "M. Okafor"},
        {"cover", "http://comics.example/covers/42.jpg"},
        {"intro", "Two keepers, one lighthouse."},
        {"type", "comic"},
        {"url", url},
    };
    for (const auto& field : fields) {
        JsonValue* member = nullptr;
        ASSERT_TRUE(lookupDictionaryMember(parsed, field.first, &member)) << field.first;
        EXPECT_STREQ(field.second, getCString(member)) << field.first;
    }
    EXPECT_EQ(fields.size(), getDictionarySize(parsed));
    deleteValue(&parsed);

    StrSink volumes;
    ASSERT_EQ(kScriptOk, site->ParseVolumes(&volumes, url, page.data(), page.size())) << LastError(site.get());
    source = startParseMemory(volumes.text.c_str(), 0);
    parsed = jsonParse(source);
    finishParsing(&source);
    ASSERT_EQ(JSON_ARRAY, getValueType(parsed)) << volumes.text;
    ASSERT_EQ(3u, getArraySize(parsed));
    for (unsigned i = 0; i < 3; ++i) {
        JsonValue* volume = nullptr;
        JsonValue* name = nullptr;
        ASSERT_TRUE(getArrayMember(parsed, i, &volume));
        ASSERT_TRUE(lookupDictionaryMember(volume, "name", &name));
        EXPECT_EQ("Volume " + std::to_string(i + 1), getCString(name));
    }
    deleteValue(&parsed);

    Recorder recorder;
    StrSink images;
    std::string volumeUrl = U("/echo/comic/42/1?pages=3");
    ASSERT_EQ(kScriptOk, site->ParseImages(&images, volumeUrl.c_str(), &recorder)) << LastError(site.get());
    std::string root = U("");
    EXPECT_EQ("[\"" + root + "/img/001.jpg\",\"" + root + "/img/002.jpg\",\"" + root + "/img/003.jpg\"]", images.text);
    // The cookie of the first response went out with the second request and ends with the parse.
    EXPECT_EQ((std::vector<std::string>{"count:3", "headers:sid=abc123", "cookie:sid=abc123"}), recorder.Take());
    StrSink cookies;
    site->GetCookies(&cookies);
    EXPECT_EQ("sid=abc123", cookies.text);

    ASSERT_TRUE(site->AllowFunction("Vellix_BeforeNavigate"));
    EXPECT_EQ(kScriptHookOther, site->CallFunction("Vellix_BeforeNavigate", "http://comics.example/comic/42", "x", 0));
    StrSink none;
    EXPECT_NE(kScriptOk, site->GetString("CurrentURL", &none));  // nothing set: the address stays
    EXPECT_EQ(kScriptHookTrue, site->CallFunction("Vellix_BeforeNavigate", "http://comics.example/old/42", "x", 0));
    StrSink current;
    EXPECT_EQ(kScriptOk, site->GetString("CurrentURL", &current));
    EXPECT_EQ("http://comics.example/new/42", current.text);
}

// The Internet Explorer proxy is written into the test process's own prefix.
class IEProxy : public HttpGetTest {
protected:
    void TearDown() override {
        vxtest::ClearIEProxy();
        HttpGetTest::TearDown();
    }

    void SetIEProxy(const std::string& proxy) { ASSERT_EQ(ERROR_SUCCESS, vxtest::WriteIEProxy(proxy, ++counter_)); }

    DWORD counter_ = 0;
};

TEST_F(IEProxy, UsedWhenTheHostTableNamesNone) {
    const std::string call = LuaQuote(ProxyOnly("/echo/ie"));
    const std::string refused = "127.0.0.1:" + std::to_string(server_->Ports().refused);
    struct Case {
        std::string ieProxy;
        std::string hostProxy;
        bool throughProxy;
    };
    const Case cases[] = {
        {server_->ProxyAddress(), "", true},
        {"http=" + server_->ProxyAddress(), "", true},
        {"https=" + server_->ProxyAddress(), "", false},  // no entry for http
        {"https=" + refused + ";" + server_->ProxyAddress(), "", true},
        {refused, server_->ProxyAddress(), true},  // the host table comes first
        {server_->ProxyAddress(), refused, false},
    };
    for (const Case& c : cases) {
        SetIEProxy(c.ieProxy);
        script_->SetString("Proxy", c.hostProxy.empty() ? nullptr : c.hostProxy.c_str());
        std::string body = Get(call);
        EXPECT_EQ(c.throughProxy ? 1u : 0u, WithPrefix(HeaderLines(body), "Via:").size())
            << c.ieProxy << " / " << c.hostProxy << ": " << body;
    }
}

// A server that never answers: the request gives up after two minutes and HttpGet gives nil.
class HttpGetTimeout : public HttpGetTest {
protected:
    void SetUp() override {
        if (!getenv("VELLIX_SLOW_TESTS"))
            GTEST_SKIP() << "takes two minutes; runs as quillet_timeout_test";
        HttpGetTest::SetUp();
    }
};

TEST_F(HttpGetTimeout, NoAnswerGivesNilAfterTwoMinutes) {
    DWORD start = GetTickCount();
    EXPECT_EQ("<nil>", Get(LuaQuote(U("/hang"))));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 115000u);
    EXPECT_LE(took, 130000u);
    // The script is usable afterwards.
    EXPECT_EQ("hello from the test server\n", Get(LuaQuote(U("/plain"))));
}

}  // namespace
