// Language texts: file encodings and format, the fallback chain, variables, dialog translation,
// the language list and the built-in resources.
#include "CoreTestSupport.h"

#include <LanguageTranslator.h>

#include <common/CodePage.h>

#include <gtest/gtest.h>

#include <set>

using Brimholt::LanguageTable;
using Brimholt::LanguageTranslator;

namespace {

std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::string Utf8File(const std::wstring& text) {
    return "\xEF\xBB\xBF" + ToNarrow(text, CP_UTF8);
}

class TranslatorTest : public ::testing::Test {
protected:
    void SetUp() override { CreateDirectoryW((folder + L"Languages").c_str(), nullptr); }
    void WriteLanguage(const std::wstring& file, const std::string& bytes) {
        WriteBytes(folder + L"Languages\\" + file, bytes);
    }
    ScopedAppFolder folder;
};

TEST_F(TranslatorTest, ReadsTheThreeEncodings) {
    const std::wstring body = L"[T]\r\nword=caf\u00E9 \u4E2D\u6587\r\n";
    struct Case {
        const char* code;
        std::string bytes;
        std::wstring expected;
    } cases[] = {
        {"utf16", Utf16File(body), L"caf\u00E9 \u4E2D\u6587"},
        {"utf8", Utf8File(body), L"caf\u00E9 \u4E2D\u6587"},
        {"ansi", "[T]\r\nword=caf\xE9\r\n", L"caf\u00E9"},  // code page 1252 under the test locale
    };
    for (const Case& c : cases) {
        WriteLanguage(ToWide(c.code, CP_ACP) + L".ini", c.bytes);
        LanguageTranslator tr;
        ASSERT_TRUE(tr.LoadLanguageFile(c.code)) << c.code;
        EXPECT_EQ(tr.CurrentCode(), c.code);
        EXPECT_EQ(tr.Lookup(L"T", L"word"), c.expected) << c.code;
    }
}

TEST(LanguageFormat, LinesSectionsAndEntries) {
    LanguageTable table;
    Brimholt::ParseLanguageText(
        "before=ignored\n"
        "[A]\r\n"
        "  key = value with = sign  \r\n"
        "no equals sign\n"
        "\n"
        "dup=first\n"
        "[ B ]\n"
        "x=1\n"
        "[A]\n"
        "dup=second\n"
        "empty=\n"
        "=no key",
        table);
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table[L"A"][L"key"], L"value with = sign");
    EXPECT_EQ(table[L"A"][L"dup"], L"second");
    EXPECT_EQ(table[L"A"][L"empty"], L"");
    EXPECT_EQ(table[L"A"][L""], L"no key");
    EXPECT_EQ(table[L" B "][L"x"], L"1");
    EXPECT_EQ(table[L"A"].count(L"before"), 0u);
    EXPECT_EQ(table[L"A"].size(), 4u);
}

TEST_F(TranslatorTest, ExternalTextsFallBackToBuiltInPerKey) {
    WriteLanguage(L"xx.ini",
                  "[Global]\nLanguage=Testish\n[Messages]\nOpenDBFailed=No database!\n"
                  "[GeneralPage]\n1250=Tray it\n[Own]\nHello=Hi %BR%%WHO%\nBR=own break\n");
    LanguageTranslator tr;
    ASSERT_TRUE(tr.LoadLanguageFile("xx"));

    struct Case {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* lookup;
    } cases[] = {
        {L"Messages", L"OpenDBFailed", L"No database!"},  // external wins
        {L"Global", L"Name", L"Vellix"},                  // only built in
        {L"Global", L"Language", L"Testish"},
        {L"Messages", L"NoSuchKey", L""},  // in neither
        {L"NoSuchSection", L"Caption", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tr.Lookup(c.section, c.key), c.lookup) << c.section << L"/" << c.key;

    EXPECT_EQ(tr.Text(L"Messages", L"NoSuchKey"), L"NoSuchKey");
    EXPECT_EQ(tr.Text(L"Own", L"Hello", {{L"WHO", L"you"}, {L"BR", L"caller's"}}), L"Hi \r\nyou");

    // A section of the external file replaces the built-in one whole.
    std::map<std::string, std::string> page;
    tr.GetSectionStrings(L"GeneralPage", page);
    EXPECT_EQ(page["1250"], "Tray it");
    EXPECT_EQ(page.count("1248"), 0u);
    EXPECT_EQ(page["BR"], "\r\n");
    std::map<std::string, std::string> own;
    tr.GetSectionStrings(L"Own", own);
    EXPECT_EQ(own["BR"], "own break");  // an entry replaces the variable of its name
    std::map<std::string, std::string> builtIn;
    tr.GetSectionStrings(L"DownloadView", builtIn);
    EXPECT_EQ(builtIn["Pack"], "Compress into Zip");
}

TEST(Placeholders, ExpansionTable) {
    TextVars vars = {{L"NAME", L"Val"}, {L"V", L"%NAME%"}, {L"E", L""}};
    struct Case {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"", L""},
        {L"plain", L"plain"},
        {L"100%%", L"100%"},
        {L"%NAME% x", L"Val x"},
        {L"%UNKNOWN%", L"UNKNOWN"},
        {L"a%b", L"ab"},
        {L"a % b", L"a  b"},
        {L"%%%NAME%", L"%Val"},
        {L"%NAME%%%", L"Val%"},
        {L"%%%", L"%"},
        {L"[%E%]", L"[]"},
        {L"%V%", L"%NAME%"},  // values are not expanded again
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandPlaceholders(c.text, vars), c.expected) << c.text;
}

TEST(Placeholders, ReplaceAllTable) {
    struct Case {
        const wchar_t* text;
        const wchar_t* replacement;
        const wchar_t* pattern;
        const wchar_t* expected;
    } cases[] = {
        {L"aaa", L"b", L"a", L"bbb"},
        {L"abab", L"a", L"ab", L"aa"},
        {L"aa", L"aaa", L"a", L"aaaaaa"},  // no rescan of inserted text
        {L"text", L"x", L"", L"text"},
        {L"%LANGNAME% (System Default)", L"English", L"%LANGNAME%", L"English (System Default)"},
    };
    for (const Case& c : cases) {
        std::wstring text = c.text;
        WStringReplaceAll(text, c.replacement, c.pattern);
        EXPECT_EQ(text, c.expected) << c.text;
    }
}

TEST_F(TranslatorTest, LoadLanguageFileAcceptsOnlyCodesOfExistingFiles) {
    WriteLanguage(L"DE.ini", "[Global]\nLanguage=Deutsch\n");
    WriteLanguage(L"de.ini.ini", "[Global]\nLanguage=Double\n");
    WriteBytes(folder + L"evil.ini", "[Global]\nName=Evil\n");
    CreateDirectoryW((folder + L"Languages\\dir.ini").c_str(), nullptr);

    struct Case {
        const char* code;
        bool loaded;
        const char* current;
    } cases[] = {
        {"xx", false, "en"},        // no such file: nothing changes
        {"DE", true, "de"},         // upper case is lowered
        {"..\\evil", false, "en"},  // a code that would leave the folder
        {"../evil", false, "en"},  {"de.ini", false, "en"},
        {"", false, "en"},         {"dir", false, "en"},  // a folder is no file
    };
    for (const Case& c : cases) {
        LanguageTranslator tr;
        EXPECT_EQ(tr.LoadLanguageFile(c.code), c.loaded) << c.code;
        EXPECT_EQ(tr.CurrentCode(), c.current) << c.code;
        EXPECT_EQ(tr.Lookup(L"Global", L"Name"), L"Vellix") << c.code;
    }
}

TEST_F(TranslatorTest, AFileThatCannotBeReadLeavesTheTableEmptyAndTheCodeChanged) {
    WriteLanguage(L"locked.ini", "[Global]\nName=Locked\n");
    HANDLE hold =
        CreateFileW((folder + L"Languages\\locked.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    LanguageTranslator tr;
    ASSERT_TRUE(tr.LoadLanguageFile("xx") == false);
    WriteLanguage(L"xx.ini", "[Global]\nName=Other\n");
    ASSERT_TRUE(tr.LoadLanguageFile("xx"));
    EXPECT_EQ(tr.Lookup(L"Global", L"Name"), L"Other");
    EXPECT_TRUE(tr.LoadLanguageFile("locked"));
    CloseHandle(hold);
    EXPECT_EQ(tr.CurrentCode(), "locked");
    EXPECT_EQ(tr.Lookup(L"Global", L"Name"), L"Vellix");  // the old external table is gone
}

// The size cap is exact, and a file another program holds open for writing is still read.
TEST_F(TranslatorTest, TheFileSizeCapAndFilesOpenForWriting) {
    const std::string head = "[Global]\nName=Big\n";
    const size_t cap = 8 * 1024 * 1024;
    struct Case {
        const char* code;
        size_t size;
        const wchar_t* name;
    } cases[] = {
        {"atcap", cap, L"Big"},
        {"overcap", cap + 1, L"Vellix"},
    };
    for (const Case& c : cases) {
        WriteLanguage(ToWide(c.code, CP_ACP) + L".ini", head + std::string(c.size - head.size(), ' '));
        LanguageTranslator tr;
        EXPECT_TRUE(tr.LoadLanguageFile(c.code)) << c.code;
        EXPECT_EQ(tr.Lookup(L"Global", L"Name"), c.name) << c.code;
    }

    WriteLanguage(L"open.ini", "[Global]\nName=Open\n");
    HANDLE writer = CreateFileW((folder + L"Languages\\open.ini").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    LanguageTranslator tr;
    EXPECT_TRUE(tr.LoadLanguageFile("open"));
    EXPECT_EQ(tr.Lookup(L"Global", L"Name"), L"Open");
    CloseHandle(writer);
}

TEST_F(TranslatorTest, ConstructionPicksTheUsersInterfaceLanguage) {
    struct Case {
        const wchar_t* file;
        const char* code;
    } cases[] = {
        {L"en-US.ini", "en-us"},  // language and country first
        {L"en.ini", "en"},        // then the language alone
    };
    for (const Case& c : cases) {
        WriteLanguage(c.file, "[Global]\nName=Chosen\n");
        LanguageTranslator tr;
        EXPECT_EQ(tr.CurrentCode(), c.code) << c.file;
        EXPECT_EQ(tr.Lookup(L"Global", L"Name"), L"Chosen") << c.file;
        DeleteFileW((folder + L"Languages\\" + c.file).c_str());
    }
    LanguageTranslator none;
    EXPECT_EQ(none.CurrentCode(), "en");
    EXPECT_EQ(none.BuiltInCode(), "en");
}

TEST_F(TranslatorTest, ListLanguagesNamesEachFileByItsGlobalLanguage) {
    WriteLanguage(L"DE.ini", "[Global]\r\nLanguage=Deutsch\r\n");
    WriteLanguage(L"ja.ini", Utf16File(L"[Global]\r\nLanguage=\u65E5\u672C\u8A9E\r\n"));
    WriteLanguage(L"fr.ini", "[Global]\r\nLanguage=\r\n");          // empty name: not listed
    WriteLanguage(L"en.ini", "[Global]\r\nLanguage=English2\r\n");  // the built-in code: not listed
    CreateDirectoryW((folder + L"Languages\\dir.ini").c_str(), nullptr);
    LanguageTranslator tr;
    Brimholt::LanguageList list = tr.ListLanguages();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].first, L"en");
    EXPECT_EQ(list[0].second, L"English (System Default)");
    std::set<std::pair<std::wstring, std::wstring>> rest(list.begin() + 1, list.end());
    std::set<std::pair<std::wstring, std::wstring>> expected = {{L"de", L"Deutsch"}, {L"ja", L"\u65E5\u672C\u8A9E"}};
    EXPECT_EQ(rest, expected);

    WriteLanguage(L"it.ini", "[Global]\r\nLanguage=Italiano\r\n");
    EXPECT_EQ(tr.ListLanguages(), list);  // built once
}

// A dialog template in memory: caption, then (class atom, id, text) per control.
class DialogTemplate {
public:
    explicit DialogTemplate(const wchar_t* caption) {
        DLGTEMPLATE header = {WS_POPUP | WS_CAPTION | DS_SETFONT, 0, 0, 0, 0, 200, 100};
        Append(&header, sizeof header);
        Word(0);  // no menu
        Word(0);  // default class
        String(caption);
        Word(8);
        String(L"MS Shell Dlg");
    }
    void Add(WORD atom, WORD id, const wchar_t* text, DWORD style = 0) {
        Align();
        DLGITEMTEMPLATE item = {WS_CHILD | WS_VISIBLE | style, 0, 5, 5, 50, 12, id};
        Append(&item, sizeof item);
        Word(0xFFFF);
        Word(atom);
        String(text);
        Word(0);
        ++reinterpret_cast<DLGTEMPLATE*>(bytes_.data())->cdit;
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

private:
    void Append(const void* data, size_t size) {
        const auto* p = static_cast<const BYTE*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    void Word(WORD w) { Append(&w, sizeof w); }
    void String(const wchar_t* s) { Append(s, (wcslen(s) + 1) * sizeof(wchar_t)); }
    void Align() {
        while (bytes_.size() % 4)
            bytes_.push_back(0);
    }
    std::vector<BYTE> bytes_;
};

INT_PTR CALLBACK PlainDialog(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

TEST_F(TranslatorTest, TranslateDialogSetsCaptionTextsAndStandardButtons) {
    WriteLanguage(L"xx.ini", "[TestDlg]\nCaption=Translated Caption\n100=Translated\n7=Nein\n");
    LanguageTranslator tr;
    ASSERT_TRUE(tr.LoadLanguageFile("xx"));

    const WORD kButton = 0x0080, kStatic = 0x0082;
    DialogTemplate tpl(L"Original Caption");
    tpl.Add(kStatic, 100, L"Original");
    tpl.Add(kStatic, 101, L"Keep me");
    tpl.Add(kButton, 1, L"Go");
    tpl.Add(kButton, 2, L"");
    tpl.Add(kButton, 7, L"");
    tpl.Add(kButton, 12, L"");
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), tpl.get(), nullptr, PlainDialog, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();

    tr.TranslateDialog(dialog, L"TestDlg");
    EXPECT_EQ(TextOf(dialog), L"Translated Caption");
    struct Case {
        int id;
        const wchar_t* text;
    } cases[] = {
        {100, L"Translated"},  // key of the section
        {101, L"Keep me"},     // no key: the template's text stays
        {1, L"Go"},            // a standard id with text keeps it
        {2, L"Cancel"},        // a standard id without text gets the standard text
        {7, L"Nein"},          // the section's key comes before the standard text
        {12, L""},             // outside 1 to 11 nothing is filled in
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextOf(GetDlgItem(dialog, c.id)), c.text) << c.id;

    // A section the external file lacks comes from the built-in texts.
    tr.TranslateDialog(dialog, L"AboutDlg");
    EXPECT_EQ(TextOf(dialog), L"About Vellix");
    DestroyWindow(dialog);
}

TEST_F(TranslatorTest, AskYesNoAsksWithTheProgramNameAndNoAsDefault) {
    LanguageTranslator tr;
    for (int answer : {IDYES, IDNO}) {
        DialogAnswerer answerer(answer);
        int result = tr.AskYesNo(nullptr, L"Messages", L"UnsupportedSite", {{L"DOMAIN", L"example.org"}});
        EXPECT_EQ(result, answer);
        EXPECT_EQ(answerer.Caption(), L"Vellix");
        EXPECT_NE(answerer.Text().find(L"example.org"), std::wstring::npos) << answerer.Text();
    }
}

TEST(DefaultControlTexts, StandardButtonsHaveTextsEvenWithoutUser32Strings) {
    LanguageTranslator tr;
    const wchar_t* expected[11] = {L"OK",  L"Cancel", L"&Abort", L"&Retry",     L"&Ignore",  L"&Yes",
                                   L"&No", L"&Close", L"Help",   L"&Try Again", L"&Continue"};
    for (int id = 1; id <= 11; ++id) {
        wchar_t system[64] = L"";
        if (LoadStringW(GetModuleHandleW(L"user32.dll"), 799 + id, system, 64) > 0)
            EXPECT_EQ(tr.DefaultControlText(id), system);
        else
            EXPECT_EQ(tr.DefaultControlText(id), expected[id - 1]);
    }
    EXPECT_EQ(tr.DefaultControlText(0), L"");
    EXPECT_EQ(tr.DefaultControlText(12), L"");
}

// The two built-in resources hold the same keys, every one with a text, and the English one is
// plain ASCII so that reading it does not depend on the system's code page.
TEST(BuiltInTexts, BothLanguagesHoldTheSameKeys) {
    auto load = [](const wchar_t* name, std::string& raw) {
        HMODULE module = GetModuleHandleW(nullptr);
        HRSRC res = FindResourceW(module, name, L"LANGRES");
        LanguageTable table;
        if (!res)
            return table;
        raw.assign(static_cast<const char*>(LockResource(LoadResource(module, res))), SizeofResource(module, res));
        Brimholt::ParseLanguageText(raw, table);
        return table;
    };
    std::string enRaw, zhRaw;
    LanguageTable en = load(L"en.ini", enRaw);
    LanguageTable zh = load(L"ZH-CN.INI", zhRaw);
    ASSERT_GE(en.size(), 30u);
    ASSERT_EQ(zhRaw.substr(0, 2), "\xFF\xFE");
    for (unsigned char c : enRaw)
        ASSERT_LT(c, 0x80);
    ASSERT_EQ(en.size(), zh.size());
    for (const auto& section : en) {
        ASSERT_TRUE(zh.count(section.first)) << section.first;
        for (const auto& entry : section.second) {
            EXPECT_TRUE(zh[section.first].count(entry.first)) << section.first << L"/" << entry.first;
            EXPECT_FALSE(entry.second.empty()) << section.first << L"/" << entry.first;
        }
        EXPECT_EQ(section.second.size(), zh[section.first].size()) << section.first;
    }
}

TEST(BuiltInTexts, TextsThatOtherPartsQuote) {
    LanguageTranslator tr;
    struct Case {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* text;
    } cases[] = {
        {L"Global", L"Name", L"Vellix"},
        {L"Global", L"Error", L"Error"},
        {L"Messages", L"OpenDBFailed", L"Failed to initialize, cannot open database."},
        {L"Messages", L"LoadingSiteListFailed", L"Loading site list failed, please try again later."},
        {L"Favorites", L"DefFolders", L"Shounen,Action,Sci-fi,Sports,Comedy,Mystery,Horror"},
        {L"SettingsSheet", L"Default", L"%LANGNAME% (System Default)"},
        {L"HotMangas", L"Title", L"Hot Mangas"},
        {L"CrashDlg", L"1", L"Locate VxCrash.dmp"},
        {L"DownloadView", L"Repair", L"Repair %ERRORS% errors(s)"},
        {L"SearchView", L"Downloads", L"Downloads: %COUNT%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tr.Lookup(c.section, c.key), c.text) << c.section << L"/" << c.key;
    EXPECT_EQ(tr.Text(L"CrashDlg", L"Prompt").find(L"Vellix has encountered a fatal error and will exit.\r\n\r\n"), 0u);
}

}  // namespace
