// Folder and file names of downloaded images, the extension a saved image gets, and task header lines.
#include <ImageNaming.h>

#include <gtest/gtest.h>

namespace {

TEST(ImageNaming, SchemesByRenameType) {
    struct Case {
        int renameType;
        const wchar_t* title;
        const wchar_t* volume;
        int n;
        const wchar_t* name;
    };
    const Case cases[] = {
        // The four schemes, folder part and stem.
        {0, L"A", L"B", 0, L""},
        {0, L"A", L"B", 3, L"A_B_0003"},
        {1, L"A", L"B", 0, L"A_B\\"},
        {1, L"A", L"B", 3, L"0003"},
        {2, L"A", L"B", -1, L"A\\B\\"},
        {2, L"A", L"B", 3, L"0003"},
        {3, L"A", L"B", 0, L"A\\"},
        {3, L"A", L"B", 3, L"B_0003"},
        // Unknown values take the default.
        {7, L"A", L"B", 0, L"A_B\\"},
        {-1, L"A", L"B", 12, L"0012"},
        // No truncation of long numbers.
        {1, L"A", L"B", 10000, L"10000"},
        // Only a final full stop changes in folder names; the flat stem keeps it (an '_' follows).
        {1, L"Vol.", L"2.", 0, L"Vol._2_\\"},
        {0, L"Vol.", L"2.", 1, L"Vol._2._0001"},
        {2, L"Vol.", L"2.", 0, L"Vol_\\2_\\"},
        {3, L"Vol.", L"2.", 5, L"2__0005"},
        // Trailing blanks and dots all change, since Windows would drop them.
        {1, L"A", L"B .. ", 0, L"A_B____\\"},
        {2, L"A.", L"B ", 0, L"A_\\B_\\"},
        // Forbidden and control characters.
        {1, L"a/b:c", L"v*?\"<>|\\", 0, L"a_b_c_v_______\\"},
        {0, L"a\tb", L"c\x01", 1, L"a_b_c__0001"},
        // Empty names never give an empty path component.
        {2, L"", L"", 0, L"_\\_\\"},
        {3, L"", L"", 1, L"__0001"},
        // Text beyond ASCII stays as it is.
        {1, L"\x6F2B\x753B", L"\x7B2C" L"1\x8BDD", 0, L"\x6F2B\x753B_\x7B2C" L"1\x8BDD\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.name, NameImage(NamingSchemeOf(c.renameType), c.title, c.volume, c.n))
            << c.renameType << " " << c.n;
    }
}

TEST(ImageNaming, ExtensionByTypeThenAddress) {
    struct Case {
        const char* type;
        const char* url;
        const wchar_t* ext;
    };
    const Case cases[] = {
        {"image/gif", "http://x/a.png", L".gif"},
        {"image/jpeg", "http://x/a", L".jpg"},
        {"image/png", "http://x/a.jpg", L".png"},
        {"image/webp", "http://x/a.jpg", L".webp"},
        // Only the exact type text counts.
        {"image/jpeg; charset=binary", "http://x/a.webp", L".webp"},
        {"IMAGE/PNG", "http://x/a.png", L".jpg"},
        {"image/pjpeg", "http://x/a.jpeg", L".jpg"},
        {"application/octet-stream", "http://x/a.webp", L".webp"},
        {"", "http://x/a.webp?x=1", L".jpg"},
        {"", "http://x/a.WEBP", L".jpg"},
        {"", "webp", L".webp"},
        {"", "", L".jpg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ext, ImageExtension(c.type, c.url)) << c.type << " " << c.url;
}

TEST(ImageNaming, TextAnswersAreNoImages) {
    for (const char* type : {"text/html", "text/html; charset=utf-8", "Text/HTML", "text/plain", " text/html",
                             "application/json", "application/xhtml+xml"})
        EXPECT_TRUE(IsTextAnswer(type)) << type;
    for (const char* type : {"image/jpeg", "image/png; q=1", "application/octet-stream", "", "image/svg+xml",
                             "texture/x"})
        EXPECT_FALSE(IsTextAnswer(type)) << type;
}

TEST(ImageNaming, LongPathsTakeTheLongForm) {
    std::wstring folder = L"C:\\D\\";
    std::wstring at259 = folder + std::wstring(259 - folder.size(), L'a');
    std::wstring at260 = at259 + L"b";
    EXPECT_EQ(at259, SavePath(at259));
    EXPECT_EQ(L"\\\\?\\" + at260, SavePath(at260));
    EXPECT_EQ(L"\\\\?\\" + at260, SavePath(L"\\\\?\\" + at260));
    std::wstring slashes = L"C:/D/" + std::wstring(260, L'a');
    EXPECT_EQ(L"\\\\?\\C:\\D\\" + std::wstring(260, L'a'), SavePath(slashes));
    std::wstring unc = L"\\\\server\\share\\" + std::wstring(260, L'a');
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + std::wstring(260, L'a'), SavePath(unc));
}

TEST(ImageNaming, HeaderLines) {
    typedef std::vector<std::pair<std::string, std::string>> Headers;
    EXPECT_EQ((Headers{{"X-A", "1"}, {"Origin", "http://x"}, {"Empty", ""}, {"Odd Name", "v: w"}}),
              ParseHeaderLines("X-A: 1\n\nno colon here\nOrigin:  http://x \r\nEmpty:\nOdd Name:v: w"));
    EXPECT_EQ(Headers{}, ParseHeaderLines(""));
    EXPECT_EQ(Headers{}, ParseHeaderLines("\n\n"));
}

}  // namespace
