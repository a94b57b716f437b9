// The language texts on a system whose OEM code page is Chinese (936).
#include "CoreTestSupport.h"

#include <LanguageTranslator.h>

#include <gtest/gtest.h>

namespace {

TEST(ChineseSystem, BuiltInCodeAndTextsAreChinese) {
    ASSERT_EQ(GetOEMCP(), 936u) << "run with VELLIX_TEST_LANG=zh_CN.UTF-8";
    ScopedAppFolder folder;
    Brimholt::LanguageTranslator tr;
    EXPECT_EQ(tr.BuiltInCode(), "zh-cn");
    EXPECT_EQ(tr.CurrentCode(), "zh-cn");
    EXPECT_EQ(tr.Lookup(L"Global", L"Name"), L"Vellix");
    EXPECT_EQ(tr.Lookup(L"Global", L"Language"), L"简体中文");
    EXPECT_EQ(tr.Lookup(L"Messages", L"OpenDBFailed"), L"初始化失败，无法打开数据库。");
    EXPECT_EQ(tr.ListLanguages().at(0), std::make_pair(std::wstring(L"zh-cn"), std::wstring(L"简体中文（系统默认）")));
    wchar_t system[64] = L"";
    if (LoadStringW(GetModuleHandleW(L"user32.dll"), 801, system, 64) == 0) {
        EXPECT_EQ(tr.DefaultControlText(2), L"取消");
    }
}

}  // namespace
