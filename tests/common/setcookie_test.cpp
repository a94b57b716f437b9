// Set-Cookie values into cookie records.
#include <gtest/gtest.h>

#include "common/SetCookie.h"

namespace {

struct Case {
    const char* text;
    bool ok;
    std::vector<std::pair<const char*, const char*>> cookies;
    const char* path;
    const char* domain;
    const char* expires;
    const char* maxAge;
    bool secure;
    bool httponly;
};

const Case kCases[] = {
    {"", true, {}, "", "", "", "", false, false},
    {"  ", true, {}, "", "", "", "", false, false},
    {"sid=abc", true, {{"sid", "abc"}}, "", "", "", "", false, false},
    {"sid=abc;", true, {{"sid", "abc"}}, "", "", "", "", false, false},
    {"sid=abc; path=/; HttpOnly", true, {{"sid", "abc"}}, "/", "", "", "", false, true},
    {"sid=abc; Path=/; x", true, {{"sid", "abc"}}, "/", "", "", "", false, false},
    {"sid=abc; Secure; path=/", true, {{"sid", "abc"}}, "/", "", "", "", true, false},
    {"sid=abc; SECURE", true, {{"sid", "abc"}}, "", "", "", "", true, false},
    {"sid=abc;;x=1", true, {{"sid", "abc"}}, "", "", "", "", false, false},
    {"sid=; path=/", true, {{"sid", ""}}, "/", "", "", "", false, false},
    {" a = 1 ; b=2", true, {{"a", "1"}}, "", "", "", "", false, false},
    {"id=a=b; Domain=.x.com; Max-Age=60; Expires=Wed, 21 Oct 2015 07:28:00 GMT; SameSite=Lax",
     true, {{"id", "a=b"}}, "", ".x.com", "Wed, 21 Oct 2015 07:28:00 GMT", "60", false, false},
    // The first pair is the cookie even when it carries an attribute's name.
    {"path=v; path=/p", true, {{"path", "v"}}, "/p", "", "", "", false, false},
    {"\tt=1\r\n", true, {{"t", "1"}}, "", "", "", "", false, false},
    {"; sid=abc", true, {{"sid", "abc"}}, "", "", "", "", false, false},
    // No cookie pair: nothing to keep.
    {"garbage; path=/", false, {}, "", "", "", "", false, false},
    {"=abc; path=/", false, {}, "", "", "", "", false, false},
    {"Secure", false, {}, "", "", "", "", false, false},
};

TEST(ParseSetCookie, Table)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.text);
        CookieRecord r;
        EXPECT_EQ(c.ok, ParseSetCookie(r, c.text));
        EXPECT_EQ(c.cookies.size(), r.cookies.size());
        for (const auto& kv : c.cookies) {
            ASSERT_EQ(1u, r.cookies.count(kv.first)) << kv.first;
            EXPECT_EQ(kv.second, r.cookies[kv.first]);
        }
        EXPECT_EQ(c.path, r.path);
        EXPECT_EQ(c.domain, r.domain);
        EXPECT_EQ(c.expires, r.expires);
        EXPECT_EQ(c.maxAge, r.maxAge);
        EXPECT_EQ(c.secure, r.secure);
        EXPECT_EQ(c.httponly, r.httponly);
    }
}

TEST(SetCookieField, AttributesInAnyCaseOtherwiseCookies)
{
    CookieRecord r;
    SetCookieField(r, "PATH", "/a");
    SetCookieField(r, "Max-Age", "5");
    SetCookieField(r, "domain", "d");
    SetCookieField(r, "Expires", "e");
    SetCookieField(r, "k", "v1");
    SetCookieField(r, "k", "v2");
    SetCookieField(r, "K", "v3");
    EXPECT_EQ("/a", r.path);
    EXPECT_EQ("5", r.maxAge);
    EXPECT_EQ("d", r.domain);
    EXPECT_EQ("e", r.expires);
    ASSERT_EQ(2u, r.cookies.size());
    EXPECT_EQ("v2", r.cookies["k"]);
    EXPECT_EQ("v3", r.cookies["K"]);
}

}  // namespace
