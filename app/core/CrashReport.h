// Crash handling: the normal process installs the crash-dump library; the copy it starts after a
// crash writes the dump and tells the user in the crash dialog.
#pragma once

#include "LanguageTranslator.h"

#include <windows.h>

#include <string>
#include <vector>

// "-RunCrashDialog:" + language code + ",%p,%t,%e"
std::wstring CrashCommandLine(const std::string& languageCode);

bool InstallCrashDumper();
int RunCrashDialog(const std::wstring& argumentText);

struct CrashArguments {
    std::vector<std::wstring> parts;  // trimmed, empty ones dropped
    bool complete = false;            // all four values present and readable
    DWORD processId = 0;
    DWORD threadId = 0;
    ULONG_PTR pointers = 0;
};

CrashArguments ParseCrashArguments(const std::wstring& text);

class CCrashDlg {
public:
    explicit CCrashDlg(const std::wstring& argumentText);
    CCrashDlg(const CCrashDlg&) = delete;
    CCrashDlg& operator=(const CCrashDlg&) = delete;

    INT_PTR DoModal();
    const CrashArguments& Arguments() const { return args_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp);
    void OnInitDialog(HWND dialog);

    Brimholt::LanguageTranslator translator_;
    CrashArguments args_;
};
