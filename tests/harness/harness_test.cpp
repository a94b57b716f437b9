// The Wine test environment: what every other test takes for granted.
#include <gtest/gtest.h>
#include <windows.h>
#include <new>
#include <string>
#include <thread>
#include "thrower.h"

TEST(Harness, LocaleIsPinned)
{
    EXPECT_EQ(1252u, GetACP());
    EXPECT_EQ(437u, GetOEMCP());
}

TEST(Harness, DisplayTakesAWindow)
{
    HWND w = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, w);
    DestroyWindow(w);
}

TEST(Harness, ExceptionCrossesDllBoundary)
{
    bool caught = false;
    std::thread t([&] {
        try {
            ThrowBadAlloc();
        } catch (const std::bad_alloc&) {
            caught = true;
        }
    });
    t.join();
    EXPECT_TRUE(caught);
}

TEST(Harness, StringGrownInDllIsFreedHere)
{
    std::string s = "x";
    AppendTo(s, "abc");
    EXPECT_EQ(1004u, s.size());
    EXPECT_EQ(0, s.compare(0, 4, "xabc"));
}
