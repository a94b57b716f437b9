// Path texts: parts, normalising, file-name cleaning and the long-path decision.
#include <gtest/gtest.h>

#include "common/Path.h"

namespace {

TEST(PathParts, FolderNameExtension)
{
    const struct {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* name;
        const wchar_t* ext;
    } cases[] = {
        {L"C:\\a\\b.c.txt", L"C:\\a\\", L"b.c", L"txt"},
        {L"C:\\a.b\\file", L"C:\\a.b\\", L"file", L""},
        {L"file.zip", L"", L"file", L"zip"},
        {L"C:\\dir\\", L"C:\\dir\\", L"", L""},
        {L"C:\\dir\\.hidden", L"C:\\dir\\", L"", L"hidden"},
        {L"", L"", L"", L""},
    };
    for (const auto& c : cases) {
        PathParts p(c.path);
        EXPECT_EQ(c.folder, p.folder) << c.path;
        EXPECT_EQ(c.name, p.name) << c.path;
        EXPECT_EQ(c.ext, p.extension) << c.path;
    }
}

TEST(NormalizePath, Table)
{
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"C:\\x\\.\\y\\..\\z", L"C:\\x\\z"},
        {L"C:\\a\\.\\.\\b", L"C:\\a\\b"},
        {L"C:\\a\\b\\..\\..\\c", L"C:\\c"},
        {L"C:\\a\\b\\..", L"C:\\a"},
        {L"C:\\a\\..", L"C:\\"},
        {L"C:\\a\\.", L"C:\\a"},
        // Never above the drive or the share.
        {L"C:\\..\\..\\w", L"C:\\w"},
        {L"C:\\a\\..\\..\\..\\w", L"C:\\w"},
        {L"\\\\srv\\share\\..\\x", L"\\\\srv\\share\\x"},
        {L"\\\\srv\\share\\a\\..\\..\\x", L"\\\\srv\\share\\x"},
        {L"\\\\?\\C:\\a\\..\\..\\b", L"\\\\?\\C:\\b"},
        // Only whole components are dots.
        {L"C:\\a\\..foo\\b", L"C:\\a\\..foo\\b"},
        {L"C:\\a\\b..\\c", L"C:\\a\\b..\\c"},
        {L"C:\\a\\.b\\c", L"C:\\a\\.b\\c"},
        {L"C:\\a\\...\\c", L"C:\\a\\...\\c"},
        {L"C:\\prog\\Vellix.exe", L"C:\\prog\\Vellix.exe"},
        {L"C:\\dir\\", L"C:\\dir\\"},
        {L"C:", L"C:"},
        {L".", L"."},
        {L"..\\a\\..\\b", L"..\\b"},
    };
    for (const auto& c : cases) {
        std::wstring p = c.in;
        NormalizePath(p);
        EXPECT_EQ(c.out, p) << c.in;
    }
}

TEST(SanitizeFileName, ForbiddenAndControlCharactersOnly)
{
    std::wstring s = L"a:b*c?";
    SanitizeFileName(s);
    EXPECT_EQ(L"a_b_c_", s);
    s = L"\\/:*?\"<>|x. \x4E00.";
    SanitizeFileName(s);
    EXPECT_EQ(L"_________x. \x4E00.", s);
    s = L"a\tb\x1F\x7F" L" c";
    SanitizeFileName(s);
    EXPECT_EQ(L"a_b_\x7F c", s);
}

TEST(DirectoryCallPath, PrefixFrom248Characters)
{
    std::wstring base = L"C:\\";
    std::wstring at247 = base + std::wstring(244, L'a');
    std::wstring at248 = at247 + L"b";
    ASSERT_EQ(247u, at247.size());
    EXPECT_EQ(at247, DirectoryCallPath(at247));
    EXPECT_EQ(L"\\\\?\\" + at248, DirectoryCallPath(at248));

    std::wstring unc = L"\\\\srv\\share\\" + std::wstring(250, L'u');
    EXPECT_EQ(L"\\\\?\\UNC\\srv\\share\\" + std::wstring(250, L'u'), DirectoryCallPath(unc));
    std::wstring prefixed = L"\\\\?\\" + at248;
    EXPECT_EQ(prefixed, DirectoryCallPath(prefixed));
    EXPECT_EQ(L"C:\\a\\b", DirectoryCallPath(L"C:/a/b"));
}

}  // namespace
