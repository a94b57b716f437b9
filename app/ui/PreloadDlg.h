// The page-loading step (script, page, information parse of one address) and the search step,
// both run inside the info bar.
#pragma once

#include "InfoBar.h"
#include "http/Dornet.h"

#include <functional>
#include <memory>
#include <string>

class CParseContext;

class CPreloadDlg : public VxInfoObserver, public Orvane::OvRequest::Client {
public:
    explicit CPreloadDlg(const std::wstring& address);
    CPreloadDlg(const std::wstring& address, std::shared_ptr<CParseContext> existing);

    void Start() override;
    // After the bar ended with 1: true when the address was dealt with here (declined adult site,
    // a single volume sent to grabbing); false when the caller shows the comic.
    bool PreloadOnParsed();
    std::string PreloadGetScriptValue();
    // After the bar ended with anything but 1: shows what went wrong.
    void PreloadFinish();

    std::string url;
    std::shared_ptr<CParseContext> context;
    int result = 0;
    std::string text;
    // (the rest: the page-loading module)
};

class CPreSearchDlg : public VxInfoObserver, public Orvane::OvRequest::Client {
public:
    CPreSearchDlg(const std::wstring& keyword, const std::wstring& kind);

    void Start() override;
    std::wstring PreSearchOnResult();

    std::wstring keyword;
    std::wstring kind;
    std::string body;
    int code = 0;
    // (the rest: the page-loading module)
};
