// The about dialog (name, version, the maker's site, library credits) and the example dialog that
// offers a site script's example address when an address cannot be parsed.
#pragma once

#include "Resource.h"
#include "wtl/Dialog.h"
#include "wtl/HyperLink.h"

#include <string>

// The version the about dialog shows behind the program's name.
extern const wchar_t kAboutVersion[];
// One line per library: "Name(version): home page" and CR LF.
std::wstring AboutCreditsText();

class CAboutDlg : public WTL::CDialogImpl<CAboutDlg> {
public:
    enum { IDD = IDD_ABOUT };

    BEGIN_MSG_MAP(CAboutDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnEnd)
    COMMAND_ID_HANDLER(IDCANCEL, OnEnd)
    END_MSG_MAP()

    WTL::CHyperLink link;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnEnd(WORD, WORD, HWND, BOOL&);
};

class CExampleDlg : public WTL::CDialogImpl<CExampleDlg> {
public:
    enum { IDD = IDD_EXAMPLE };

    // The address as the script gives it: UTF-8.
    explicit CExampleDlg(const std::string& exampleUrl) : example(exampleUrl) {}

    BEGIN_MSG_MAP(CExampleDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnTry)
    COMMAND_ID_HANDLER(IDCANCEL, OnClose)
    COMMAND_ID_HANDLER(IDCLOSE, OnClose)
    END_MSG_MAP()

    std::string example;
    WTL::CHyperLink link;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTry(WORD, WORD, HWND, BOOL&);
    LRESULT OnClose(WORD, WORD, HWND, BOOL&);
};
