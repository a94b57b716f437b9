// Address parsers, proxy texts and the service's addresses.
#include <gtest/gtest.h>

#include "common/Url.h"

namespace {

struct SplitCase {
    const char* url;
    const char* scheme;
    const char* user;
    const char* password;
    const char* host;
    int port;
    const char* path;
    const char* query;
    const char* target;
    const char* fragment;
};

const SplitCase kSplitCases[] = {
    {"https://a.b/c?d=1#x", "https", "", "", "a.b", 443, "/c", "d=1", "/c?d=1", "x"},
    {"http://u:pw@h:8080", "http", "u", "pw", "h", 8080, "/", "", "/", ""},
    {"http://h:abc/p", "http", "", "", "h", 80, "/p", "", "/p", ""},
    {"gopher://h/p", "gopher", "", "", "h", 0, "/p", "", "/p", ""},
    {"ftp://h", "ftp", "", "", "h", 21, "/", "", "/", ""},
    {"HTTP://h", "HTTP", "", "", "h", 0, "/", "", "/", ""},  // schemes are case-sensitive
    {"http://u@h/", "http", "u", "", "h", 80, "/", "", "/", ""},
    {"http://a@b@h/p", "http", "a", "", "b@h", 80, "/p", "", "/p", ""},
    {"http://h: 81/", "http", "", "", "h", 81, "/", "", "/", ""},
    {"http://h:+82/", "http", "", "", "h", 82, "/", "", "/", ""},
    {"http://h:/", "http", "", "", "h", 80, "/", "", "/", ""},
    {"http://h:65535/", "http", "", "", "h", 65535, "/", "", "/", ""},
    {"http://h:65536/", "http", "", "", "h", 80, "/", "", "/", ""},
    {"http://h:-1/", "http", "", "", "h", 80, "/", "", "/", ""},
    {"http://h:99999999999999999999/", "http", "", "", "h", 80, "/", "", "/", ""},
    {"http://h/p#f", "http", "", "", "h", 80, "/p", "", "/p", "f"},
    {"http://h/p?", "http", "", "", "h", 80, "/p", "", "/p", ""},
    {"http://h/a#b?c", "http", "", "", "h", 80, "/a", "", "/a", "b?c"},
    // A rest that opens with '?' or '#' still has the path "/".
    {"http://h?q=1", "http", "", "", "h", 80, "/", "q=1", "/?q=1", ""},
    {"http://h#top", "http", "", "", "h", 80, "/", "", "/", "top"},
    {"http://h:8080?q", "http", "", "", "h", 8080, "/", "q", "/?q", ""},
    {"mailto:x@y", "mailto", "", "", "", -1, "x@y", "", "x@y", ""},
    {"about:", "about", "", "", "", -1, "/", "", "/", ""},
    {"file:///C:/a", "file", "", "", "", -1, "/C:/a", "", "/C:/a", ""},
};

TEST(SplitUrl, Table)
{
    for (const SplitCase& c : kSplitCases) {
        SCOPED_TRACE(c.url);
        UrlRecord u;
        ASSERT_TRUE(SplitUrl(u, c.url));
        EXPECT_EQ(c.scheme, u.scheme);
        EXPECT_EQ(c.user, u.user);
        EXPECT_EQ(c.password, u.password);
        EXPECT_EQ(c.host, u.host);
        EXPECT_EQ(c.port, u.port);
        EXPECT_EQ(c.path, u.path);
        EXPECT_EQ(c.query, u.query);
        EXPECT_EQ(c.target, u.target);
        EXPECT_EQ(c.fragment, u.fragment);
    }
}

TEST(SplitUrl, NoColonIsNoUrlAndResetsTheRecord)
{
    UrlRecord u;
    ASSERT_TRUE(SplitUrl(u, "http://h:81/p?q#f"));
    EXPECT_FALSE(SplitUrl(u, "www.example.com/index.html"));
    EXPECT_EQ("", u.host);
    EXPECT_EQ(-1, u.port);
    EXPECT_FALSE(SplitUrl(u, nullptr));
}

struct ParseCase {
    const char* url;
    // key=value pairs the map must hold, nothing else
    std::vector<std::pair<const char*, const char*>> fields;
};

TEST(ParseUrl, Table)
{
    const ParseCase cases[] = {
        {"http://a@b@h/p?q=1",
         {{"scheme", "http"}, {"user", "a@b"}, {"host", "h"}, {"path", "/p?q=1"}, {"query", "q=1"}}},
        {"https://u:pw@h:8443/x",
         {{"scheme", "https"}, {"user", "u"}, {"password", "pw"}, {"host", "h"}, {"port", "8443"},
          {"path", "/x"}}},
        {"http://u:@h:/", {{"scheme", "http"}, {"user", "u"}, {"host", "h"}, {"path", "/"}}},
        {"http://@h", {{"scheme", "http"}, {"host", "h"}, {"path", "/"}}},
        {"http://h/?", {{"scheme", "http"}, {"host", "h"}, {"path", "/?"}}},
        {"ftp://h?x=1", {{"scheme", "ftp"}, {"host", "h"}, {"path", "/?x=1"}, {"query", "x=1"}}},
        {"x://", {{"scheme", "x"}, {"host", ""}, {"path", "/"}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.url);
        UrlMap m;
        ASSERT_TRUE(ParseUrl(m, c.url));
        EXPECT_EQ(c.fields.size(), m.Size());
        for (const auto& f : c.fields) {
            EXPECT_TRUE(m.Has(f.first)) << f.first;
            EXPECT_EQ(f.second, m.Get(f.first)) << f.first;
        }
    }
}

TEST(ParseUrl, WithoutSchemeSeparatorIsNoUrl)
{
    UrlMap m;
    ASSERT_TRUE(ParseUrl(m, "http://h/p"));
    EXPECT_FALSE(ParseUrl(m, "mailto:x@y"));
    EXPECT_EQ(0u, m.Size());
    EXPECT_EQ("", m.Get("scheme"));
}

TEST(ProxyText, SchemesAndTheProxyForAll)
{
    struct Case {
        const char* text;
        const char* http;
        const char* https;
        const char* ftp;
    } cases[] = {
        {"http=p1:80;https=p2:443", "p1:80", "p2:443", ""},
        {" http = p1:80 ; ; https=p2:443 ;", "p1:80", "p2:443", ""},
        {"p:8080", "p:8080", "p:8080", "p:8080"},
        {"https=s:1;p:8080", "p:8080", "s:1", "p:8080"},
        {"http=a:1;http=b:2", "b:2", "", ""},
        {"=x:1;http=", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ProxyMap m;
        bool any = ParseProxyText(m, c.text);
        EXPECT_EQ(any, !m.empty());
        EXPECT_EQ(c.http, ProxyForScheme(m, "http"));
        EXPECT_EQ(c.https, ProxyForScheme(m, "https"));
        EXPECT_EQ(c.ftp, ProxyForScheme(m, "ftp"));
    }
    ProxyMap empty;
    EXPECT_FALSE(ParseProxyText(empty, " ; "));
}

TEST(ServiceAddresses, ApiAndRedirect)
{
    std::string root = MakeApiUrl(nullptr);
    ASSERT_EQ(std::string::npos, root.find("/v2"));
    ASSERT_NE('/', root.back());
    UrlRecord u;
    ASSERT_TRUE(SplitUrl(u, root.c_str()));
    EXPECT_FALSE(u.host.empty());
    EXPECT_EQ(root + "/v2/config.php?lang=en", MakeApiUrl("config.php?lang=en"));
    std::string link = RedirectLinkUrl("download");
    EXPECT_EQ(0u, link.rfind(root, 0));
    EXPECT_EQ(link.size() - 12, link.find("/?t=download"));
}

}  // namespace
