// The portable text helpers of the HTTP client: address split, form encoding, header names, raw
// response headers, request header text, Location resolution and gzip decoding.
#include "HttpText.h"
#include "Inflate.h"
#include "UrlSplit.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

using namespace Orvane;

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
    const char* object;
    const char* fragment;
};

const SplitCase kSplits[] = {
    {"http://h/x/y?q=1#f", "http", "", "", "h", 80, "/x/y", "q=1", "/x/y?q=1", "f"},
    {"http://h:8080/a", "http", "", "", "h", 8080, "/a", "", "/a", ""},
    {"http://user:pw@h/", "http", "user", "pw", "h", 80, "/", "", "/", ""},
    {"http://user@h/", "http", "user", "", "h", 80, "/", "", "/", ""},
    {"http://h", "http", "", "", "h", 80, "/", "", "/", ""},
    {"https://h/s", "https", "", "", "h", 443, "/s", "", "/s", ""},
    {"ftp://h/f", "ftp", "", "", "h", 21, "/f", "", "/f", ""},
    {"HTTP://h/", "HTTP", "", "", "h", 0, "/", "", "/", ""},
    {"HTTPS://h/", "HTTPS", "", "", "h", 0, "/", "", "/", ""},
    {"gopher://h/", "gopher", "", "", "h", 0, "/", "", "/", ""},
    {"http://h:abc/", "http", "", "", "h", 80, "/", "", "/", ""},
    {"http://h:/", "http", "", "", "h", 80, "/", "", "/", ""},
    {"http://h:65535/", "http", "", "", "h", 65535, "/", "", "/", ""},
    {"http://h:81x/", "http", "", "", "h", 81, "/", "", "/", ""},
    // The authority ends at '?' or '#': an '@' in the query is no user information.
    {"http://h?u=a@evil/x", "http", "", "", "h", 80, "/", "u=a@evil/x", "/?u=a@evil/x", ""},
    {"http://h#a@evil", "http", "", "", "h", 80, "/", "", "/", "a@evil"},
    {"http://a@b@h/p", "http", "a@b", "", "h", 80, "/p", "", "/p", ""},
    // A '#' before the '?' starts the fragment.
    {"http://h/p#f?x", "http", "", "", "h", 80, "/p", "", "/p", "f?x"},
    {"http://h/p?", "http", "", "", "h", 80, "/p", "", "/p", ""},
    {"mailto:someone", "mailto", "", "", "", -1, "someone", "", "someone", ""},
    {"http:///p", "http", "", "", "", -1, "/p", "", "/p", ""},
    {"http://[::1]x/", "http", "", "", "[", 80, "/", "", "/", ""},
};

TEST(SplitUrl, SplitsAddresses)
{
    for (const SplitCase& c : kSplits) {
        SCOPED_TRACE(c.url);
        UrlComponents out;
        ASSERT_TRUE(SplitUrl(c.url, out));
        EXPECT_EQ(out.scheme, c.scheme);
        EXPECT_EQ(out.user, c.user);
        EXPECT_EQ(out.password, c.password);
        EXPECT_EQ(out.host, c.host);
        EXPECT_EQ(out.port, c.port);
        EXPECT_EQ(out.path, c.path);
        EXPECT_EQ(out.query, c.query);
        EXPECT_EQ(out.object, c.object);
        EXPECT_EQ(out.fragment, c.fragment);
    }
}

TEST(SplitUrl, RejectsAddresses)
{
    const char* bad[] = {"", "no colon here", "http://h:65536/", "http://h:99999999999999999999/", nullptr};
    for (const char* url : bad) {
        SCOPED_TRACE(url ? url : "(null)");
        UrlComponents out;
        EXPECT_FALSE(SplitUrl(url, out));
    }
}

TEST(SplitUrl, StartsFromEmptyComponents)
{
    UrlComponents out;
    ASSERT_TRUE(SplitUrl("http://u:p@h:1/a?b#c", out));
    ASSERT_TRUE(SplitUrl("x:y", out));
    EXPECT_EQ(out.user, "");
    EXPECT_EQ(out.host, "");
    EXPECT_EQ(out.port, -1);
    EXPECT_EQ(out.query, "");
    EXPECT_EQ(out.fragment, "");
}

TEST(FormEncoding, PercentEncodesBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a b-c", "a%20b%2Dc"},
        {"AZaz09", "AZaz09"},
        {"\t", "%20"},
        {"\n", "%0A"},
        {"\r", "%0D"},
        {std::string(1, '\0'), "%20"},
        {"\x1f", "%20"},
        {"\xe9", "%E9"},
        {"\xff", "%FF"},
        {"\x7f", "%7F"},
        {"-._~!", "%2D%2E%5F%7E%21"},
        {"\xe4\xb8\xad", "%E4%B8%AD"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(PercentEncode(c.first), c.second) << c.second;
}

TEST(FormEncoding, JoinsFields)
{
    FormFields fields{{"q", "one piece"}, {"t", "na"}};
    std::string form = EncodeForm(fields);
    EXPECT_TRUE(form == "q=one%20piece&t=na" || form == "t=na&q=one%20piece") << form;
    EXPECT_EQ(EncodeForm(FormFields{}), "");
    EXPECT_EQ(EncodeForm(FormFields{{"", ""}}), "=");
    EXPECT_EQ(EncodeForm(FormFields{{"a&b", "c=d"}}), "a%26b=c%3Dd");
}

TEST(HeaderNames, Canonicalizes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"content-type", "Content-Type"},
        {"CONTENT-TYPE", "Content-Type"},
        {"x-requested-with", "X-Requested-With"},
        {"etag", "ETag"},
        {"ETAG", "ETag"},
        {"www-authenticate", "Www-Authenticate"},
        {"", ""},
        {"-x", "-X"},
        {"a--b", "A--B"},
        {"1abc-9x", "1abc-9x"},
        {"x_y-z", "X_y-Z"},
        {"\xe9t\xc9", "\xe9t\xc9"},
    };
    for (const auto& c : cases) EXPECT_EQ(CanonicalizeHeaderName(c.first), c.second) << c.first;
}

TEST(RawHeaders, TakesStatusHeadersAndCookies)
{
    ParsedHeaders p;
    ASSERT_TRUE(ParseRawHeaders("HTTP/1.1 200 OK\r\n"
                                "content-type: text/html\r\n"
                                "X-A: 1\r\n"
                                "x-a:  2 \r\n"
                                "Set-Cookie: a=1; Path=/\r\n"
                                "set-cookie: b=2\r\n"
                                "no colon line\r\n"
                                "etag: \"v1\"\r\n"
                                "Location: http://h/x:y\r\n"
                                "\r\n",
                                p));
    EXPECT_EQ(p.statusCode, 200);
    EXPECT_EQ(p.headers.size(), 4u);
    EXPECT_EQ(p.headers["Content-Type"], "text/html");
    EXPECT_EQ(p.headers["X-A"], "2");
    EXPECT_EQ(p.headers["ETag"], "\"v1\"");
    EXPECT_EQ(p.headers["Location"], "http://h/x:y");
    EXPECT_EQ(p.headers.count("Set-Cookie"), 0u);
    ASSERT_EQ(p.cookies.size(), 2u);
    EXPECT_EQ(p.cookies[0], "a=1; Path=/");
    EXPECT_EQ(p.cookies[1], "b=2");
}

TEST(RawHeaders, StatusLines)
{
    const std::pair<const char*, int> accepted[] = {
        {"HTTP/1.1 200 OK", 200},
        {"HTTP/1.1 200", 200},
        {"HTTP/1.1 200 ", 200},
        {"HTTP/1.0 404 Not Found", 404},
        {"  HTTP/1.1\t302\tFound", 302},
        {"junk HTTP/1.1 301 Moved", 301},
        {"HTTP/x HTTP/1.1 204 No", 204},
        {"HTTP/12.34 999999999 big", 999999999},
    };
    for (const auto& c : accepted) {
        ParsedHeaders p;
        EXPECT_TRUE(ParseRawHeaders(std::string(c.first) + "\r\nA: b\r\n", p)) << c.first;
        EXPECT_EQ(p.statusCode, c.second) << c.first;
        EXPECT_EQ(p.headers["A"], "b") << c.first;
    }
    const char* refused[] = {"HTTP/2 200 OK", "HTTP/1.1 OK", "HTTP/1.1200 OK", "HTTP/1.1 200OK", "HTTP/.1 200 OK",
                             "HTTP/1. 200 OK", "http/1.1 200 OK", "", "HTTP/1.1 2000000000 x",
                             "HTTP/1.1 99999999999999999999 x"};
    for (const char* line : refused) {
        ParsedHeaders p;
        p.statusCode = 7;
        p.cookies.push_back("kept");
        EXPECT_FALSE(ParseRawHeaders(std::string(line) + "\r\nA: b\r\nSet-Cookie: c\r\n", p)) << line;
        EXPECT_EQ(p.statusCode, 7) << line;
        EXPECT_TRUE(p.headers.empty()) << line;
        EXPECT_EQ(p.cookies.size(), 1u) << line;
    }
}

TEST(RawHeaders, RefillKeepsCookiesAndReplacesByName)
{
    ParsedHeaders p;
    ASSERT_TRUE(ParseRawHeaders("HTTP/1.1 302 Found\nSet-Cookie: a=1\nLocation: /x\nX-Old: 1\n", p));
    ASSERT_TRUE(ParseRawHeaders("HTTP/1.1 200 OK\nSet-Cookie: b=2\nlocation: /y\n", p));
    EXPECT_EQ(p.statusCode, 200);
    EXPECT_EQ(p.headers["Location"], "/y");
    EXPECT_EQ(p.headers["X-Old"], "1");
    EXPECT_EQ(p.cookies.size(), 2u);
}

TEST(RequestHeaders, TextAndLineBreaks)
{
    HeaderMap one{{"X-Requested-With", "XMLHttpRequest"}};
    EXPECT_EQ(BuildHeaderText(one), "X-Requested-With:XMLHttpRequest\r\n");
    HeaderMap evil{{"X-Evil", "a\r\nX-Injected: 1"}, {"\r\n", "gone"}, {"N\nm", "v\r"}};
    std::string text = BuildHeaderText(evil);
    EXPECT_NE(text.find("X-Evil:aX-Injected: 1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Nm:v\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("gone"), std::string::npos) << text;
    size_t lines = 0;
    for (size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos; i += 2) ++lines;
    EXPECT_EQ(lines, 2u);
    EXPECT_EQ(BuildHeaderText(HeaderMap{}), "");
}

TEST(Location, Resolves)
{
    const struct {
        const char* base;
        const char* location;
        const char* expected;
    } cases[] = {
        {"http://host/a/b", "/login", "http://host/login"},
        {"https://host:8/a/b?q#f", "/login?x=1", "https://host:8/login?x=1"},
        {"http://host/a/b", "http://other/x", "http://other/x"},
        {"http://host/a/b", "HTTPS://other/x", "HTTPS://other/x"},
        {"http://host/a/b", "c", "http://host/a/c"},
        {"http://host/a/b/", "c/d", "http://host/a/b/c/d"},
        {"http://host", "c", "http://host/c"},
        {"http://host?x=1", "/p", "http://host/p"},
        {"http://host/a/b", "../c", "http://host/c"},
        {"http://host/a/b", "../../../c", "http://host/c"},
        {"http://host/a/b", "./c/./d/..", "http://host/a/c/"},
        {"http://host/a/b", "/x/../y", "http://host/y"},
        {"http://host/a/b", "//cdn/img", "http://cdn/img"},
        {"https://host/a", "//cdn:81/img?v", "https://cdn:81/img?v"},
        {"http://host/a/b?q=1", "?q=2", "http://host/a/b?q=2"},
        {"http://host/a/b?q=1#f", "#g", "http://host/a/b?q=1#g"},
        {"http://host/a", "c?x=../y", "http://host/c?x=../y"},
        {"http://host/a", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ResolveLocation(c.base, c.location), c.expected) << c.location;
}

std::vector<char> Deflate(const std::string& text, int windowBits, const std::string& dictionary = "")
{
    z_stream zs = {};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    if (!dictionary.empty())
        deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(dictionary.data()), static_cast<uInt>(dictionary.size()));
    std::vector<char> out(deflateBound(&zs, static_cast<uLong>(text.size())) + 64);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

TEST(Gzip, DecodesGzipAndZlib)
{
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    for (int bits : {15 + 16, 15}) {
        std::vector<char> body = Deflate(text, bits);
        ASSERT_TRUE(DecodeGzip(body)) << bits;
        EXPECT_EQ(std::string(body.begin(), body.end()), text);
    }
    std::vector<char> withTrailer = Deflate("abc", 31);
    withTrailer.insert(withTrailer.end(), {'x', 'y'});
    ASSERT_TRUE(DecodeGzip(withTrailer));
    EXPECT_EQ(std::string(withTrailer.begin(), withTrailer.end()), "abc");
    std::vector<char> empty = Deflate("", 31);
    ASSERT_TRUE(DecodeGzip(empty));
    EXPECT_TRUE(empty.empty());
}

TEST(Gzip, LeavesUndecodableBodies)
{
    std::string text(50000, 'q');
    std::vector<char> truncated = Deflate(text, 31);
    truncated.resize(truncated.size() / 2);
    std::vector<char> corrupt = Deflate(text, 31);
    for (size_t i = 12; i < corrupt.size() && i < 30; ++i) corrupt[i] ^= 0x5A;
    const std::vector<char> cases[] = {
        {},
        {'p', 'l', 'a', 'i', 'n'},
        truncated,
        corrupt,
        Deflate(text, 15, "preset dictionary"),  // Z_NEED_DICT must not spin
        Deflate(text, -15),                      // raw deflate has no header to detect
    };
    for (const auto& original : cases) {
        std::vector<char> body = original;
        EXPECT_FALSE(DecodeGzip(body));
        EXPECT_EQ(body, original);
    }
}

}  // namespace
