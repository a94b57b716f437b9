// Trimming, splitting and escaping.
#include <gtest/gtest.h>

#include "common/StringUtil.h"

namespace {

TEST(TrimString, AsciiWhiteSpaceAndNulOnly)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {" ", ""},
        {"   ", ""},
        {"abc", "abc"},
        {" \t\r\n\v\fa b\f\v\n\r\t ", "a b"},
        {std::string("\0x\0", 3), "x"},
        // UTF-8 of U+00A0 and U+3000 are no ASCII blanks; their bytes stay, continuation bytes too.
        {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"},
        {"\xE3\x80\x80", "\xE3\x80\x80"},
        {"\xE4\xB8\x80 ", "\xE4\xB8\x80"},
        {"\x85x\xA0", "\x85x\xA0"},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        TrimString(s);
        EXPECT_EQ(c.out, s) << "input of " << c.in.size() << " bytes: " << c.in;
    }
}

TEST(TrimSpaces, CookieBlanksOnly)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {" \t\r\n", ""}, {" a=b ", "a=b"}, {"\va\f", "\va\f"}, {"", ""},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        TrimSpaces(s);
        EXPECT_EQ(c.out, s);
    }
}

TEST(SplitTrimmed, PiecesTrimmedEmptyDropped)
{
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"1", "5", "1", "12"}), SplitTrimmed("1.5. 1 .12", '.'));
    EXPECT_EQ((V{"a", "b"}), SplitTrimmed(";a;; ;b", ';'));
    EXPECT_EQ((V{"tail"}), SplitTrimmed("tail", ';'));
    EXPECT_EQ(V{}, SplitTrimmed("", ';'));
    EXPECT_EQ(V{}, SplitTrimmed(" ; ;", ';'));
}

TEST(HtmlEscape, FiveEntities)
{
    EXPECT_EQ("a&lt;b&amp;c&apos;d&quot;e&gt;f", HtmlEscape("a<b&c'd\"e>f"));
    EXPECT_EQ("\xE4\xB8\x80 &amp;amp;", HtmlEscape("\xE4\xB8\x80 &amp;"));
    EXPECT_EQ("", HtmlEscape(""));
}

}  // namespace
