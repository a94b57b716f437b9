// The check of every favourite comic for new volumes: a chain of small steps on the user-interface
// thread, one request at a time, one row per comic in an engine page; Download sends the ticked
// volumes to grabbing.
#pragma once

#include "Resource.h"
#include "VxHTMLBase.h"
#include "VxMsg.h"
#include "wtl/Dialog.h"
#include "wtl/DialogResize.h"

#include <Dornet.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class msg_grab;

class CCheckUpdateDlg : public WTL::CDialogImpl<CCheckUpdateDlg>,
                        public VxHTMLBase<CCheckUpdateDlg>,
                        public VxMsgObserver,
                        public WTL::CDialogResize<CCheckUpdateDlg> {
public:
    enum { IDD = IDD_CHECKUPDATE };

    struct Step {
        std::function<Step*()> run;
    };

    // Shared with the requests in flight: a cancel is seen by a completion that races it.
    struct Shared {
        std::mutex lock;
        bool detached = false;
        int observer = -1;
    };

    // One per request; deletes itself after its one call.
    class RequestClient final : public Orvane::OvRequest::Client {
    public:
        RequestClient(std::shared_ptr<Shared> shared, std::function<void(const Orvane::OvResponse&)> handler)
            : shared_(std::move(shared)), handler_(std::move(handler)) {}
        void OnResponse(const Orvane::OvResponse& response) override;

    private:
        std::shared_ptr<Shared> shared_;
        std::function<void(const Orvane::OvResponse&)> handler_;
    };

    CCheckUpdateDlg();
    ~CCheckUpdateDlg() override;

    static int Run(HWND owner);

    BEGIN_MSG_MAP(CCheckUpdateDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_CLOSE, OnCloseMessage)
    COMMAND_ID_HANDLER(IDOK, OnButton)
    COMMAND_ID_HANDLER(IDCANCEL, OnButton)
    COMMAND_ID_HANDLER(IDC_CU_CHECKALL, OnCheckCommand)
    COMMAND_ID_HANDLER(IDC_CU_UNCHECKALL, OnCheckCommand)
    COMMAND_ID_HANDLER(IDC_CU_SHOWALL, OnShowAllCommand)
    CHAIN_MSG_MAP(WTL::CDialogResize<CCheckUpdateDlg>)
    END_MSG_MAP()

    BEGIN_DLGRESIZE_MAP(CCheckUpdateDlg)
    DLGRESIZE_CONTROL(IDC_CU_HTML, WTL::DLSZ_SIZE_X | WTL::DLSZ_SIZE_Y)
    DLGRESIZE_CONTROL(IDC_CU_AUTOSCROLL, WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_CU_SHOWALL, WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_CU_CHECKALL, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_CU_UNCHECKALL, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDOK, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDCANCEL, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    END_DLGRESIZE_MAP()

    void RunSteps();
    Step* CheckItem(size_t i);
    Step* FindItemScript(size_t i, const std::string& host, const std::string& key);
    Step* FetchPage(size_t i);
    Step* ShowVolumes(size_t i);
    Step* ShowError(size_t i, const std::wstring& text);
    Step* NextItem(size_t i);
    void SetAllChecks(int id);
    void ShowAllChanged();
    bool Checking() const { return checking_; }

    HWND html = nullptr;
    msg_grab* grab;
    std::vector<std::string> urls;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCloseMessage(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnButton(WORD, WORD id, HWND, BOOL&);
    LRESULT OnCheckCommand(WORD, WORD id, HWND, BOOL&) {
        SetAllChecks(id);
        return 0;
    }
    LRESULT OnShowAllCommand(WORD, WORD, HWND, BOOL&) {
        ShowAllChanged();
        return 0;
    }
    void Download();
    void Append(const std::string& row);
    // Starts a request whose outcome comes back as the next step; false when it did not start.
    bool StartRequest(const std::string& address, size_t i, bool page, std::wstring& failure);
    void Resume(Step* next);

    std::shared_ptr<Shared> shared_;
    Step* step_ = nullptr;
    bool checking_ = false;
};
