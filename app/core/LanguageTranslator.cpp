// Language texts: the built-in LANGRES resource of the system's language, the user's file from
// "Languages\" over it, variables, dialog translation and the language list.
#include "LanguageTranslator.h"

#include "AppPath.h"

#include <common/CodePage.h>
#include <common/FileText.h>
#include <common/Log.h>
#include <wtl/Seams.h>

#include <cwctype>

namespace Brimholt {

namespace {

// Language files are small; anything larger is not one.
const size_t kMaxLanguageFile = 8 * 1024 * 1024;

// Wine's user32 has no standard button strings (800-810), so the built-in languages carry their own.
const wchar_t* const kEnglishButtons[11] = {L"OK",  L"Cancel", L"&Abort", L"&Retry",     L"&Ignore",  L"&Yes",
                                            L"&No", L"&Close", L"Help",   L"&Try Again", L"&Continue"};
const wchar_t* const kChineseButtons[11] = {L"确定",   L"取消",     L"中止(&A)", L"重试(&R)", L"忽略(&I)", L"是(&Y)",
                                            L"否(&N)", L"关闭(&C)", L"帮助",     L"重试(&T)", L"继续(&C)"};

bool IsBlank(wchar_t c) {
    return c == 0 || std::iswspace(c);
}

std::wstring Trimmed(const std::wstring& text, size_t begin, size_t end) {
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::wstring DecodeLanguageBytes(const std::string& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<wchar_t>(b[2 + 2 * i] | (b[3 + 2 * i] << 8));
        return text;
    }
    if (bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        return ToWide(bytes.substr(3), CP_UTF8);
    return ToWide(bytes, CP_ACP);
}

std::string LowerAscii(std::string code) {
    for (char& c : code) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return code;
}

// The code becomes part of a file path, so only letters, digits, '-' and '_' pass.
bool IsLanguageCode(const std::string& code) {
    if (code.empty())
        return false;
    for (char c : code) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

const std::wstring* Find(const LanguageTable& table, const std::wstring& section, const std::wstring& key) {
    auto s = table.find(section);
    if (s == table.end())
        return nullptr;
    auto k = s->second.find(key);
    return k == s->second.end() ? nullptr : &k->second;
}

struct TranslateContext {
    const LanguageTranslator* translator;
    const std::wstring* section;
};

BOOL CALLBACK TranslateChild(HWND child, LPARAM param) {
    auto* ctx = reinterpret_cast<TranslateContext*>(param);
    int id = GetDlgCtrlID(child);
    std::wstring text = ctx->translator->Lookup(*ctx->section, std::to_wstring(id));
    if (!text.empty()) {
        SetWindowTextW(child, text.c_str());
    } else if (id >= 1 && id <= 11 && GetWindowTextLengthW(child) == 0) {
        const std::wstring& standard = ctx->translator->DefaultControlText(id);
        if (!standard.empty())
            SetWindowTextW(child, standard.c_str());
    }
    return TRUE;
}

}  // namespace

std::string BuiltInCodeForOemCp(UINT oemCp) {
    return oemCp == 936 || oemCp == 950 ? "zh-cn" : "en";
}

void ParseLanguageText(const std::string& bytes, LanguageTable& table) {
    std::wstring text = DecodeLanguageBytes(bytes);
    std::map<std::wstring, std::wstring>* section = nullptr;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = Trimmed(text, pos, end);
        pos = end + 1;
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            section = &table[line.substr(1, line.size() - 2)];
            continue;
        }
        size_t eq = line.find(L'=');
        if (!section || eq == std::wstring::npos)
            continue;
        (*section)[Trimmed(line, 0, eq)] = Trimmed(line, eq + 1, line.size());
    }
}

LanguageTranslator::LanguageTranslator() : LanguageTranslator(true) {}

LanguageTranslator::LanguageTranslator(bool chooseUserLanguage) {
    builtInCode_ = BuiltInCodeForOemCp(GetOEMCP());
    currentCode_ = builtInCode_;
    LoadDefaultControlTexts();
    vars_[L"BR"] = L"\r\n";
    LoadBuiltIn();
    if (chooseUserLanguage)
        ChooseUserLanguage();
}

void LanguageTranslator::LoadDefaultControlTexts() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const wchar_t* const* fallback = builtInCode_ == "zh-cn" ? kChineseButtons : kEnglishButtons;
    for (int i = 0; i < 11; ++i) {
        wchar_t buffer[64] = L"";
        if (user32 && LoadStringW(user32, 800 + i, buffer, 64) > 0)
            controlTexts_[i] = buffer;
        else
            controlTexts_[i] = fallback[i];
    }
}

void LanguageTranslator::LoadBuiltIn() {
    std::wstring name = ToWide(builtInCode_ + ".ini", CP_ACP);
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, name.c_str(), L"LANGRES");
    HGLOBAL data = res ? LoadResource(module, res) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes) {
        Log << "No built-in language texts for " << builtInCode_ << std::endl;
        return;
    }
    ParseLanguageText(std::string(static_cast<const char*>(bytes), SizeofResource(module, res)), builtIn_);
}

void LanguageTranslator::ChooseUserLanguage() {
    LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    char language[16] = "";
    char country[16] = "";
    GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, language, sizeof language);
    GetLocaleInfoA(locale, LOCALE_SISO3166CTRYNAME, country, sizeof country);
    if (!LoadLanguageFile(std::string(language) + "-" + country))
        LoadLanguageFile(language);
}

bool LanguageTranslator::LoadLanguageFile(const std::string& code) {
    if (!IsLanguageCode(code))
        return false;
    std::wstring path = GetAppPath(L"Languages\\") + ToWide(code, CP_ACP) + L".ini";
    if (!FileExists(path))
        return false;
    currentCode_ = LowerAscii(code);
    external_.clear();
    std::string bytes;
    DWORD error = ReadFileBytes(path, kMaxLanguageFile, bytes);
    if (error == ERROR_SUCCESS)
        ParseLanguageText(bytes, external_);
    else
        Log << "Cannot read language file, error " << error << std::endl;
    return true;
}

const std::wstring& LanguageTranslator::DefaultControlText(int id) const {
    static const std::wstring none;
    return id >= 1 && id <= 11 ? controlTexts_[id - 1] : none;
}

std::wstring LanguageTranslator::Lookup(const std::wstring& section, const std::wstring& key) const {
    if (const std::wstring* text = Find(external_, section, key))
        return *text;
    if (const std::wstring* text = Find(builtIn_, section, key))
        return *text;
    return std::wstring();
}

std::wstring LanguageTranslator::Text(const std::wstring& section, const std::wstring& key,
                                      const TextVars& vars) const {
    std::wstring text = Lookup(section, key);
    if (text.empty())
        return key;
    if (vars.empty())
        return ExpandPlaceholders(text, vars_);
    TextVars merged = vars;
    for (const auto& v : vars_)
        merged[v.first] = v.second;
    return ExpandPlaceholders(text, merged);
}

void LanguageTranslator::GetSectionStrings(const std::wstring& section, std::map<std::string, std::string>& out) const {
    for (const auto& v : vars_)
        out[ToNarrow(v.first, CP_UTF8)] = ToNarrow(v.second, CP_UTF8);
    auto s = external_.find(section);
    if (s == external_.end()) {
        s = builtIn_.find(section);
        if (s == builtIn_.end())
            return;
    }
    for (const auto& entry : s->second)
        out[ToNarrow(entry.first, CP_UTF8)] = ToNarrow(entry.second, CP_UTF8);
}

void LanguageTranslator::TranslateDialog(HWND dialog, const std::wstring& section) const {
    std::wstring caption = Lookup(section, L"Caption");
    if (!caption.empty())
        SetWindowTextW(dialog, caption.c_str());
    TranslateContext ctx{this, &section};
    EnumChildWindows(dialog, TranslateChild, reinterpret_cast<LPARAM>(&ctx));
}

const LanguageList& LanguageTranslator::ListLanguages() {
    if (!languages_.empty())
        return languages_;
    std::wstring builtInCode = ToWide(builtInCode_, CP_ACP);
    std::wstring name;
    if (const std::wstring* text = Find(builtIn_, L"SettingsSheet", L"Default"))
        name = *text;
    const std::wstring* language = Find(builtIn_, L"Global", L"Language");
    WStringReplaceAll(name, language ? *language : std::wstring(), L"%LANGNAME%");
    languages_.emplace_back(builtInCode, name);

    std::wstring folder = GetAppPath(L"Languages\\");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*.ini").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return languages_;
    do {
        std::wstring file = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || file.size() <= 4)
            continue;
        std::wstring code = file.substr(0, file.size() - 4);
        for (wchar_t& c : code) {
            if (c >= L'A' && c <= L'Z')
                c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (code == builtInCode)
            continue;
        wchar_t display[260] = L"";
        GetPrivateProfileStringW(L"Global", L"Language", L"", display, 260, (folder + file).c_str());
        if (display[0])
            languages_.emplace_back(code, display);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return languages_;
}

int LanguageTranslator::AskYesNo(HWND owner, const std::wstring& section, const std::wstring& key,
                                 const TextVars& vars) const {
    std::wstring text = Text(section, key, vars);
    std::wstring caption = Text(L"Global", L"Name");
    return WTL::ShowMessageBox(owner, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
}

}  // namespace Brimholt

std::wstring ExpandPlaceholders(const std::wstring& text, const TextVars& vars) {
    std::wstring out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t open = text.find(L'%', pos);
        if (open == std::wstring::npos) {
            out.append(text, pos, std::wstring::npos);
            break;
        }
        out.append(text, pos, open - pos);
        size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out.append(text, open + 1, std::wstring::npos);
            break;
        }
        std::wstring name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out += L'%';
        } else {
            auto v = vars.find(name);
            out += v == vars.end() ? name : v->second;
        }
        pos = close + 1;
    }
    return out;
}

void WStringReplaceAll(std::wstring& text, const std::wstring& replacement, const std::wstring& pattern) {
    if (pattern.empty())
        return;
    size_t pos = 0;
    while ((pos = text.find(pattern, pos)) != std::wstring::npos) {
        text.replace(pos, pattern.size(), replacement);
        pos += replacement.size();
    }
}
