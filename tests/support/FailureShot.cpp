// Linked into every window test: at a test's first failure, a picture of the test's own display
// (no other test draws on it) goes to VX_FAILURE_SHOTS, so the failure can be read without a rerun.
#include "LinuxTool.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class FailureShot : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { taken_ = false; }

    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        if (!result.failed() || taken_ || !test)
            return;
        taken_ = true;
        // One executable runs in several languages.
        char exe[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string program = exe;
        program = program.substr(program.find_last_of("\\/") + 1);
        const char* lang = std::getenv("LANG");
        std::string name = program + "-" + (lang ? lang : "") + "-" + test->test_suite_name() + "." + test->name();
        for (char& c : name)
            if (c == '/' || c == '\\')
                c = '_';
        std::string file = std::string(VX_FAILURE_SHOTS) + "/" + name + ".png";
        std::string out, error;
        bool ok = vxtest::RunLinux({"/bin/mkdir", "-p", VX_FAILURE_SHOTS}, &out, &error, 20000) &&
                  vxtest::RunLinux({"/usr/bin/import", "-window", "root", file}, &out, &error, 20000);
        std::printf("%s: %s\n", ok ? "the display at the failure" : "no picture of the display", ok ? file.c_str() : error.c_str());
    }

    bool taken_ = false;
};

const bool g_registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailureShot);
    return true;
}();

}  // namespace
