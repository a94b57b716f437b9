// Developer settings: the switches of "debug.ini", the lookups they enable, and the writer thread.
#include "CoreTestSupport.h"

#include <DebugSettings.h>

#include <gtest/gtest.h>

namespace {

class DebugTest : public ::testing::Test {
protected:
    void WriteIni(const std::string& text) { WriteBytes(folder + L"debug.ini", text); }
    ScopedAppFolder folder;
};

TEST_F(DebugTest, WithoutTheFileEverythingIsOff) {
    WriteBytes(folder + L"script.lua", "-- exists");
    DebugSettings settings;
    EXPECT_TRUE(settings.path.empty());
    EXPECT_FALSE(settings.present || settings.Package || settings.SaveCloud || settings.SaveContext ||
                 settings.SysProxy);
    EXPECT_EQ(settings.thread.get(), nullptr);
    EXPECT_EQ(settings.threadId, 0u);
    EXPECT_FALSE(Exists(folder + L"Save"));
    EXPECT_EQ(settings.GetStartCommand(), L"");
    EXPECT_EQ(settings.GetPackagePath("example.org"), L"");
    bool proxy = true;
    EXPECT_EQ(settings.GetScriptOverride("example.org", &proxy), L"");
    EXPECT_FALSE(proxy);
    EXPECT_FALSE(DebugSettings::ReadFullDump());

    // Without the writer a job is freed at once.
    EXPECT_FALSE(settings.Post(new AsyncWriteFile(L"x.txt", std::make_shared<std::string>("x"))));
}

TEST_F(DebugTest, SwitchesAreIntegersWhereNonZeroIsOn) {
    struct Case {
        const char* config;
        bool package, saveCloud, saveContext, sysProxy, fullDump;
    } cases[] = {
        {"", false, false, false, false, false},
        {"Package=1\nSaveCloud=1\nSaveContext=1\nSysProxy=1\nFullDump=1\n", true, true, true, true, true},
        {"Package=2\nSaveCloud=0\nSaveContext=-1\nSysProxy=abc\nFullDump=0\n", true, false, true, false, false},
    };
    for (const Case& c : cases) {
        WriteIni(std::string("[Config]\n") + c.config);
        DebugSettings settings;
        EXPECT_TRUE(settings.present) << c.config;
        EXPECT_EQ(settings.path, folder + L"debug.ini");
        EXPECT_EQ(settings.Package, c.package) << c.config;
        EXPECT_EQ(settings.SaveCloud, c.saveCloud) << c.config;
        EXPECT_EQ(settings.SaveContext, c.saveContext) << c.config;
        EXPECT_EQ(settings.SysProxy, c.sysProxy) << c.config;
        EXPECT_EQ(DebugSettings::ReadFullDump(), c.fullDump) << c.config;
        EXPECT_TRUE(Exists(folder + L"Save"));
        EXPECT_NE(settings.threadId, 0u);
    }
}

TEST_F(DebugTest, StartCommandIsCutTo259Characters) {
    std::string longCommand(300, 'c');
    struct Case {
        std::string value;
        std::wstring expected;
    } cases[] = {
        {"", L""},
        {"http://example.org/comic/1", L"http://example.org/comic/1"},
        {longCommand, std::wstring(259, L'c')},
    };
    for (const Case& c : cases) {
        WriteIni("[Config]\nStartCommand=" + c.value + "\n");
        DebugSettings settings;
        EXPECT_EQ(settings.GetStartCommand(), c.expected);
    }
}

TEST_F(DebugTest, PackagesAndScriptOverridesNeedTheirFiles) {
    CreateDirectoryW((folder + L"Packages").c_str(), nullptr);
    WriteBytes(folder + L"Packages\\example.org.vxpkg", "pkg");
    WriteBytes(folder + L"local.lua", "-- script");
    char ansi[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, (folder + L"local.lua").c_str(), -1, ansi, MAX_PATH, nullptr, nullptr);
    WriteIni(std::string("[Config]\nPackage=1\n[Scripts]\nexample.org=") + ansi +
             "\nmissing.org=C:\\nowhere\\gone.lua\n[Proxy]\nexample.org=1\nmissing.org=1\n");
    DebugSettings settings;

    EXPECT_EQ(settings.GetPackagePath("example.org"), folder + L"Packages\\example.org.vxpkg");
    EXPECT_EQ(settings.GetPackagePath("other.org"), L"");
    EXPECT_EQ(settings.GetPackagePath("..\\example.org"), L"");  // a host cannot leave the folder

    struct Case {
        const char* host;
        std::wstring script;
        bool proxy;
    } cases[] = {
        {"example.org", folder + L"local.lua", true},
        {"missing.org", L"", true},  // a script that does not exist is no override
        {"other.org", L"", false},
    };
    for (const Case& c : cases) {
        bool proxy = !c.proxy;
        EXPECT_EQ(settings.GetScriptOverride(c.host, &proxy), c.script) << c.host;
        EXPECT_EQ(proxy, c.proxy) << c.host;
        EXPECT_EQ(settings.GetScriptOverride(c.host, nullptr), c.script) << c.host;
    }

    WriteIni("[Config]\nPackage=0\n");
    DebugSettings off;
    EXPECT_EQ(off.GetPackagePath("example.org"), L"");
}

class CountedTask : public DebugTask {
public:
    explicit CountedTask(std::atomic<int>& runs) : runs_(runs) { ++live; }
    ~CountedTask() override { --live; }
    void Run() override { ++runs_; }
    static std::atomic<int> live;

private:
    std::atomic<int>& runs_;
};
std::atomic<int> CountedTask::live{0};

TEST_F(DebugTest, TheWriterRunsJobsInOrderAndIsAwaitedAtTheEnd) {
    WriteIni("[Config]\nSaveContext=1\n");
    std::atomic<int> runs{0};
    {
        DebugSettings settings;
        // Posted at once: the thread's queue exists before the constructor returns.
        for (int i = 0; i < 50; ++i)
            ASSERT_TRUE(
                settings.Post(new AsyncWriteFile(L"order.txt", std::make_shared<std::string>(std::to_string(i)))));
        ASSERT_TRUE(settings.Post(new AsyncWriteFile(L"empty.txt", std::make_shared<std::string>())));
        ASSERT_TRUE(settings.Post(new AsyncWriteFile(L"..\\escape.ctx", std::make_shared<std::string>("ctx"))));
        ASSERT_TRUE(settings.Post(new AsyncWriteFile(L"a/b:c.ctx", std::make_shared<std::string>("ctx"))));
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(settings.Post(new CountedTask(runs)));
    }  // the destructor waits for the thread
    EXPECT_EQ(ReadBytes(folder + L"Save\\order.txt"), "49");
    EXPECT_TRUE(Exists(folder + L"Save\\empty.txt"));
    EXPECT_EQ(ReadBytes(folder + L"Save\\empty.txt"), "");
    EXPECT_FALSE(Exists(folder + L"escape.ctx"));
    EXPECT_EQ(ReadBytes(folder + L"Save\\.._escape.ctx"), "ctx");
    EXPECT_EQ(ReadBytes(folder + L"Save\\a_b_c.ctx"), "ctx");
    EXPECT_EQ(runs.load(), 20);
    EXPECT_EQ(CountedTask::live.load(), 0);
}

TEST_F(DebugTest, AnEmptyJobEmptiesAnExistingFile) {
    WriteIni("[Config]\n");
    CreateDirectoryW((folder + L"Save").c_str(), nullptr);
    WriteBytes(folder + L"Save\\config.txt", "old catalogue");
    {
        DebugSettings settings;
        ASSERT_TRUE(settings.Post(new AsyncWriteFile(L"config.txt", std::make_shared<std::string>())));
    }
    EXPECT_TRUE(Exists(folder + L"Save\\config.txt"));
    EXPECT_EQ(ReadBytes(folder + L"Save\\config.txt"), "");
}

TEST_F(DebugTest, AFailedPostFreesTheJob) {
    WriteIni("[Config]\n");
    std::atomic<int> runs{0};
    DebugSettings settings;
    DWORD realId = settings.threadId;
    settings.threadId = 1;  // no thread has this id
    EXPECT_FALSE(settings.Post(new CountedTask(runs)));
    EXPECT_EQ(CountedTask::live.load(), 0);
    settings.threadId = realId;
}

}  // namespace
