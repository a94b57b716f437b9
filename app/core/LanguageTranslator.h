// Every visible text by section and key: built-in texts from resources, one external language file
// over them, "%NAME%" variables.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

typedef std::map<std::wstring, std::wstring> TextVars;

namespace Brimholt {

typedef std::map<std::wstring, std::map<std::wstring, std::wstring>> LanguageTable;
typedef std::vector<std::pair<std::wstring, std::wstring>> LanguageList;

class LanguageTranslator {
public:
    LanguageTranslator();
    // false: the built-in texts only, until LoadLanguageFile picks a file.
    explicit LanguageTranslator(bool chooseUserLanguage);

    bool LoadLanguageFile(const std::string& code);

    std::wstring Lookup(const std::wstring& section, const std::wstring& key) const;
    std::wstring Text(const std::wstring& section, const std::wstring& key, const TextVars& vars = TextVars()) const;
    void GetSectionStrings(const std::wstring& section, std::map<std::string, std::string>& out) const;
    void TranslateDialog(HWND dialog, const std::wstring& section) const;
    const LanguageList& ListLanguages();
    int AskYesNo(HWND owner, const std::wstring& section, const std::wstring& key,
                 const TextVars& vars = TextVars()) const;

    const std::string& BuiltInCode() const { return builtInCode_; }
    const std::string& CurrentCode() const { return currentCode_; }
    const std::wstring& DefaultControlText(int id) const;

private:
    void LoadDefaultControlTexts();
    void LoadBuiltIn();
    void ChooseUserLanguage();

    LanguageTable builtIn_;
    LanguageTable external_;
    std::wstring controlTexts_[11];
    std::string builtInCode_;
    std::string currentCode_;
    TextVars vars_;
    LanguageList languages_;
};

// Fills a table from the bytes of a language file: UTF-16LE or UTF-8 by their marks, else ANSI.
void ParseLanguageText(const std::string& bytes, LanguageTable& table);

// The built-in language code: "zh-cn" for the Chinese OEM code pages, else "en".
std::string BuiltInCodeForOemCp(UINT oemCp);

}  // namespace Brimholt

// "%%" gives "%", a known name its value, an unknown one the bare name; a lone '%' is dropped.
std::wstring ExpandPlaceholders(const std::wstring& text, const TextVars& vars);

void WStringReplaceAll(std::wstring& text, const std::wstring& replacement, const std::wstring& pattern);
