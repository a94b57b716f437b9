// The page-loading step (script, page, information parse of one address) and the search step,
// both run inside the info bar.
#pragma once

#include "InfoBar.h"
#include "http/Dornet.h"

#include <functional>
#include <memory>
#include <string>

class CParseContext;

// Outcome codes of CPreloadDlg::result.
enum PreloadOutcome {
    kPreloadOk = 0,
    kPreloadEmptyScript = 1,   // the service answered 200 with an empty body
    kPreloadNeedUpdate = 2,    // the script needs a newer program
    kPreloadScriptError = 3,   // the developer override script failed to load
    kPreloadNoScript = 4,      // no usable script
    kPreloadScriptFailed = 5,  // the script request failed or was not 200
    kPreloadPageFailed = 6,    // the page request failed, was not 200, or the address is no web page
    kPreloadParseFailed = 7    // the script's information parser failed
};

class CPreloadDlg : public VxInfoObserver, public Orvane::OvRequest::Client {
public:
    explicit CPreloadDlg(const std::wstring& address);
    // Re-runs on a view's address. The view's context is never changed: the step works on a fresh
    // one, which replaces `context` only when the bar ends with 1; on any other end `context` is
    // still the view's own.
    CPreloadDlg(const std::wstring& address, std::shared_ptr<CParseContext> existing);

    void Start() override;
    // After the bar ended with 1: true when the address was dealt with here (declined adult site,
    // a single volume sent to grabbing); false when the caller shows the comic.
    bool PreloadOnParsed();
    std::string PreloadGetScriptValue();
    // After the bar ended with anything but 1: shows what went wrong.
    void PreloadFinish();

    void OnResponse(const Orvane::OvResponse& response) override { OnComplete(response); }

    std::string url;
    std::shared_ptr<CParseContext> context;
    std::function<void(const Orvane::OvResponse&)> handler;
    int state = 1;
    std::string key;
    bool adult = false;
    int result = 0;
    std::string text;

private:
    void PrepareScript(const std::wstring& address);
    bool CheckScriptVersion();
    void PreloadFetch();
    void OnComplete(const Orvane::OvResponse& response);
    void OnScript(const Orvane::OvResponse& response);
    void OnPage(const Orvane::OvResponse& response);
    bool ConfirmAdult();
    std::string Host() const;

    std::shared_ptr<CParseContext> work_;  // the context this step fills
};

class CPreSearchDlg : public VxInfoObserver, public Orvane::OvRequest::Client {
public:
    CPreSearchDlg(const std::wstring& keyword, const std::wstring& kind);

    void Start() override;
    std::wstring PreSearchOnResult();

    void OnResponse(const Orvane::OvResponse& response) override { OnComplete(response); }

    std::wstring keyword;
    std::wstring kind;
    std::string body;
    int code = 0;

private:
    void OnComplete(const Orvane::OvResponse& response);
};
