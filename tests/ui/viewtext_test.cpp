// The views' text routines: template filling, the link policy and the resource names of page
// addresses. Built natively and under Wine.
#include "ViewText.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// The tables read best one case a line.
// clang-format off
const std::map<std::string, std::string> kTexts = {
    {"MangaName", "Manga Name"},
    {"Analyzing", "Analyzing..."},
    {"Rate", "100% unsupervised"},
    {"Nested", "%MangaName%"},
    {"Chinese", "\xE6\xBC\xAB\xE7\x94\xBB"},
};

TEST(FillTemplate, Placeholders) {
    struct Case {
        const char* page;
        const char* filled;
    };
    const Case cases[] = {
        /* 1 */ {"", ""},
        /* 2 */ {"no placeholders", "no placeholders"},
        /* 3 */ {"<p>%MangaName%: %Analyzing%</p>", "<p>Manga Name: Analyzing...</p>"},
        /* 4 */ {"%%", "%"},
        /* 5 */ {"width: 100%%", "width: 100%"},
        /* 6 */ {"%MangaName%%%", "Manga Name%"},
        /* 7 */ {"%NotInSection%", "NotInSection"},
        /* 8 */ {"a %Missing% b %Analyzing%", "a Missing b Analyzing..."},
        /* 9 */ {"50% off", "50 off"},
        /* 10 */ {"trailing %", "trailing "},
        /* 11 */ {"%Chinese%\xEF\xBC\x9A%Analyzing%", "\xE6\xBC\xAB\xE7\x94\xBB\xEF\xBC\x9A" "Analyzing..."},
        /* 12 */ {"%MangaName", "MangaName"},
        /* 13 */ {"%%%%%%", "%%%"},
    };
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        std::string page = c.page;
        FillTemplate(page, kTexts);
        EXPECT_EQ(page, c.filled) << "case " << n;
    }
}

// Inserted data is never read as placeholders: a '%' in a text or in data survives.
TEST(FillTemplate, DataKeepsItsPercentSigns) {
    struct Case {
        std::string page;
        const char* filled;
    };
    const Case cases[] = {
        /* 1 */ {"<p>%Rate%</p>", "<p>100% unsupervised</p>"},
        /* 2 */ {"%Nested%", "%MangaName%"},
        /* 3 */ {"<a>" + TemplateLiteral("100% unsupervised") + "</a> %Analyzing%", "<a>100% unsupervised</a> Analyzing..."},
        /* 4 */ {TemplateLiteral("%MangaName% 5%% %"), "%MangaName% 5%% %"},
        /* 5 */ {TemplateLiteral(""), ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        std::string page = c.page;
        FillTemplate(page, kTexts);
        EXPECT_EQ(page, c.filled) << "case " << n;
    }
}

TEST(LinkPolicy, WhatAClickDoes) {
    struct Case {
        const wchar_t* href;
        bool execute;
        LinkAction action;
    };
    const Case cases[] = {
        /* 1 */ {nullptr, false, LinkAction::None},
        /* 2 */ {nullptr, true, LinkAction::None},
        /* 3 */ {L"#", false, LinkAction::Beep},
        /* 4 */ {L"#add-fav", false, LinkAction::Beep},
        /* 5 */ {L"http://comics.example.net/a", false, LinkAction::Open},
        /* 6 */ {L"HTTPS://comics.example.net/b", false, LinkAction::Open},
        /* 7 */ {L"http://comics.example.net/c", true, LinkAction::Execute},
        /* 8 */ {L"#", true, LinkAction::Execute},
        /* 9 */ {L"file:///C:/windows/notepad.exe", false, LinkAction::Refuse},
        /* 10 */ {L"javascript:alert(1)", false, LinkAction::Refuse},
        /* 11 */ {L"mailto:someone@example.net", false, LinkAction::Refuse},
        /* 12 */ {L"C:\\windows\\notepad.exe", false, LinkAction::Refuse},
        /* 13 */ {L"\\\\server\\share\\x.exe", false, LinkAction::Refuse},
        /* 14 */ {L"http://", false, LinkAction::Refuse},
        /* 15 */ {L"https:/example.net", false, LinkAction::Refuse},
        /* 16 */ {L"", false, LinkAction::Refuse},
        /* 17 */ {L" http://example.net", false, LinkAction::Refuse},
        /* 18 */ {L"httpx://example.net", false, LinkAction::Refuse},
    };
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        EXPECT_EQ(static_cast<int>(ClassifyLink(c.href, c.execute)), static_cast<int>(c.action)) << "case " << n;
    }
}

TEST(ResourceOfAddress, NamesAndTypes) {
    struct Case {
        std::wstring address;
        bool found;
        const wchar_t* name;
        const wchar_t* type;
    };
    const Case cases[] = {
        /* 1 */ {L"common.css", true, L"COMMON", L"CSS"},
        /* 2 */ {L"COMMON.CSS", true, L"COMMON", L"CSS"},
        /* 3 */ {L"noimg.gif", true, L"NOIMG", L"GIF"},
        /* 4 */ {L"loading_s.gif", true, L"LOADING_S", L"GIF"},
        /* 5 */ {L"page.html", true, L"PAGE", L""},
        /* 6 */ {L"page.HtMl", true, L"PAGE", L""},
        /* 7 */ {L"page", true, L"PAGE", L""},
        /* 8 */ {L"a.b.gif", true, L"A.B", L"GIF"},
        /* 9 */ {L"", false, L"", L""},
        /* 10 */ {L"file://C:\\covers\\1.jpg", false, L"", L""},
        /* 11 */ {L"file:///C:/covers/1.jpg", false, L"", L""},
        /* 12 */ {L"http://127.0.0.1:8160/loading.gif", false, L"", L""},
        /* 13 */ {L"img/noimg.gif", false, L"", L""},
        /* 14 */ {L".css", false, L"", L""},
        /* 15 */ {L"common.", false, L"", L""},
        // Cut to 259 characters before the type is read: the type is lost with the tail.
        /* 16 */ {std::wstring(255, L'x') + L".css", true, nullptr, L"CSS"},
        /* 17 */ {std::wstring(256, L'x') + L".css", true, nullptr, L"CS"},
        /* 18 */ {std::wstring(300, L'y') + L".gif", true, nullptr, L""},
    };
    int n = 0;
    for (const Case& c : cases) {
        ++n;
        std::wstring name = L"?", type = L"?";
        EXPECT_EQ(ResourceOfAddress(c.address, name, type), c.found) << "case " << n;
        if (!c.found)
            continue;
        if (c.name)
            EXPECT_EQ(name, c.name) << "case " << n;
        else
            EXPECT_LE(name.size(), 259u) << "case " << n;
        EXPECT_EQ(type, c.type) << "case " << n;
    }
}

// clang-format on
}  // namespace
