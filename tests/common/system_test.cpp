// The helpers that reach the system: code pages, the Internet Explorer proxy, the shell, the program
// folder and folder trees. Runs under Wine with a prefix of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/CodePage.h"
#include "common/Path.h"
#include "common/Url.h"

#include "IEProxySettings.h"

namespace {

TEST(CodePage, CountedFormsKeepEmbeddedZeros)
{
    std::string narrow("a\0\xE9", 3);
    std::wstring wide = ToWide(narrow, 1252);
    EXPECT_EQ(std::wstring(L"a\0\x00E9", 3), wide);
    EXPECT_EQ(narrow, ToNarrow(wide, 1252));
    EXPECT_EQ(std::wstring(L"a\0\x00E9", 3), ToWideAnsi(narrow));

    std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";
    EXPECT_EQ(L"\x4E2D\x6587", ToWide(utf8, CP_UTF8));
    EXPECT_EQ(utf8, ToNarrow(L"\x4E2D\x6587", CP_UTF8));
}

TEST(CodePage, TerminatedFormsStopAtZero)
{
    EXPECT_EQ("\xC3\xA9x", ToUtf8CStr(L"\x00E9x\0y"));
    EXPECT_EQ("\xE9x", ToNarrowCStr(L"\x00E9x\0y", 1252));
    EXPECT_EQ(L"\x00E9x", ToWideCStr("\xE9x\0y", 1252));
    EXPECT_EQ(L"\x4E2D", ToWideCStr("\xE4\xB8\xAD", CP_UTF8));
}

TEST(CodePage, EmptyNeverReachesTheSystem)
{
    // MultiByteToWideChar fails with ERROR_INVALID_PARAMETER for length 0; the helpers must not ask.
    SetLastError(4242);
    EXPECT_EQ(L"", ToWide("", CP_UTF8));
    EXPECT_EQ("", ToNarrow(L"", CP_UTF8));
    EXPECT_EQ("", ToNarrowCStr(L"", 1252));
    EXPECT_EQ("", ToUtf8CStr(nullptr));
    EXPECT_EQ(L"", ToWideCStr("", 1252));
    EXPECT_EQ(L"", ToWideCStr(nullptr, 1252));
    EXPECT_EQ(L"", ToWideAnsi(""));
    EXPECT_EQ(4242u, GetLastError());
}

// Run by its own ctest entry with the Chinese locale.
TEST(AnsiCodePage936, AnsiIsGbk)
{
    if (GetACP() != 936)
        GTEST_SKIP() << "needs VELLIX_TEST_LANG=zh_CN.UTF-8";
    EXPECT_EQ(L"\x4E2D\x6587", ToWideAnsi("\xD6\xD0\xCE\xC4"));
    EXPECT_EQ("\xD6\xD0\xCE\xC4", ToNarrow(L"\x4E2D\x6587", CP_ACP));
}

// The Internet Explorer proxy settings, written as the system stores them and read back; every
// test process has a Wine prefix of its own.
class IEProxy : public ::testing::Test {
protected:
    void SetProxy(const std::string& proxy) { ASSERT_EQ(ERROR_SUCCESS, vxtest::WriteIEProxy(proxy, ++counter_)); }

    void TearDown() override { vxtest::ClearIEProxy(); }

    DWORD counter_ = 0;
};

TEST_F(IEProxy, PerSchemeEntries)
{
    SetProxy("http=p1:80;https=p2:443");
    ProxyMap map;
    ASSERT_TRUE(LoadIEProxyMap(map));
    EXPECT_EQ(2u, map.size());
    EXPECT_EQ("p1:80", GetIEProxyForUrl("http://a.b/c"));
    EXPECT_EQ("p2:443", GetIEProxyForUrl("https://a.b/c"));
    EXPECT_EQ("", GetIEProxyForUrl("ftp://a.b/c"));
    EXPECT_EQ("", GetIEProxyForUrl("HTTPS://a.b/c"));
    EXPECT_EQ("", GetIEProxyForUrl("no address"));
}

TEST_F(IEProxy, OneProxyForEveryScheme)
{
    SetProxy("proxy.local:3128");
    EXPECT_EQ("proxy.local:3128", GetIEProxyForUrl("http://a.b/"));
    EXPECT_EQ("proxy.local:3128", GetIEProxyForUrl("ftp://a.b/"));
    SetProxy("https=s:1; proxy.local:3128 ;");
    EXPECT_EQ("s:1", GetIEProxyForUrl("https://a.b/"));
    EXPECT_EQ("proxy.local:3128", GetIEProxyForUrl("http://a.b/"));
}

TEST_F(IEProxy, NoneSet)
{
    TearDown();
    ProxyMap map;
    map["stale"] = "x";
    EXPECT_FALSE(LoadIEProxyMap(map));
    EXPECT_TRUE(map.empty());
    EXPECT_EQ("", GetIEProxyForUrl("http://a.b/"));
    SetProxy("");
    EXPECT_FALSE(LoadIEProxyMap(map));
    SetProxy(" ; ");
    EXPECT_FALSE(LoadIEProxyMap(map));
}

std::vector<std::pair<std::string, std::string>> g_opened;

void RecordOpen(const char* verb, const char* target)
{
    g_opened.emplace_back(verb, target);
}

TEST(RedirectLink, OpensTheServiceAddressThroughTheShell)
{
    g_opened.clear();
    ShellOpener previous = SetShellOpener(RecordOpen);
    OpenRedirectLink("download");
    SetShellOpener(previous);
    ASSERT_EQ(1u, g_opened.size());
    EXPECT_EQ("open", g_opened[0].first);
    EXPECT_EQ(RedirectLinkUrl("download"), g_opened[0].second);
    EXPECT_EQ(MakeApiUrl(nullptr) + "/redirect/?t=download", g_opened[0].second);
}

TEST(ProgramFolder, ModuleFolderWithTrailingBackslash)
{
    wchar_t raw[1024];
    DWORD n = GetModuleFileNameW(nullptr, raw, 1024);
    ASSERT_GT(n, 0u);
    std::wstring path;
    ASSERT_TRUE(GetModulePath(path));
    EXPECT_EQ(std::wstring(raw, n), path);
    std::wstring folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(L'\\', folder.back());
    EXPECT_EQ(0u, path.rfind(folder, 0));
    EXPECT_EQ(std::wstring::npos, path.find(L'\\', folder.size()));
    EXPECT_EQ(folder + L"Vellix.dat", ProgramFolder(L"Vellix.dat"));
    EXPECT_EQ(folder, ProgramFolder(L""));
}

class DirectoryTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        base_ = std::wstring(temp) + L"vxtree" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::wstring(test.begin(), test.end());
    }

    static bool IsDirectory(const std::wstring& path)
    {
        DWORD a = GetFileAttributesW(DirectoryCallPath(path).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }

    std::wstring base_;
};

TEST_F(DirectoryTree, CreatesEveryLevelAndAcceptsExisting)
{
    std::wstring deep = base_ + L"\\a\\b\\c";
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(IsDirectory(base_ + L"\\a"));
    EXPECT_TRUE(IsDirectory(deep));
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(CreateDirectoryTree(deep + L"\\"));
    EXPECT_TRUE(CreateDirectoryTree(base_ + L"/a/b/d"));
    EXPECT_TRUE(IsDirectory(base_ + L"\\a\\b\\d"));
}

TEST_F(DirectoryTree, FileInTheWayFails)
{
    ASSERT_TRUE(CreateDirectoryTree(base_));
    std::wstring file = base_ + L"\\plain";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    EXPECT_FALSE(CreateDirectoryTree(file));
    EXPECT_FALSE(CreateDirectoryTree(file + L"\\below"));
    EXPECT_FALSE(IsDirectory(file));
}

TEST_F(DirectoryTree, LongPathThroughPrefixedForm)
{
    std::wstring path = base_;
    for (int i = 0; path.size() < 300; ++i)
        path += L"\\level" + std::to_wstring(i) + std::wstring(20, L'x');
    ASSERT_GE(path.size(), 300u);
    EXPECT_TRUE(CreateDirectoryTree(path));
    EXPECT_TRUE(IsDirectory(path));
    EXPECT_TRUE(CreateDirectoryTree(path));
}

// Wine maps \\server\share to the prefix's dosdevices\unc\server\share folder.
TEST_F(DirectoryTree, UncFolders)
{
    wchar_t prefix[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        GTEST_SKIP() << "no Wine prefix to hold a share";
    std::wstring server = L"vxsrv" + std::to_wstring(GetCurrentProcessId());
    std::wstring share = L"Z:" + std::wstring(prefix) + L"/dosdevices/unc/" + server + L"/share";
    ASSERT_TRUE(CreateDirectoryTree(share));

    std::wstring unc = L"\\\\" + server + L"\\share";
    EXPECT_TRUE(CreateDirectoryTree(unc));
    EXPECT_TRUE(CreateDirectoryTree(unc + L"\\a\\b"));
    EXPECT_TRUE(IsDirectory(share + L"\\a\\b"));
    std::wstring longer = unc + L"\\a";
    while (longer.size() < 280)
        longer += L"\\" + std::wstring(30, L'u');
    EXPECT_TRUE(CreateDirectoryTree(longer));
    EXPECT_TRUE(IsDirectory(longer));
    EXPECT_FALSE(CreateDirectoryTree(L"\\\\" + server + L"x\\share\\a"));
}

}  // namespace
