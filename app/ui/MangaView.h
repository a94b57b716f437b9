// The comic details view: one comic's name, author, status, cover and introduction in a page, its
// volumes in a check-box list beside it, and the ticked volumes sent to grabbing.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "Resource.h"
#include "VxHTMLBase.h"
#include "VxMsg.h"
#include "VxView.h"
#include "wtl/Dialog.h"
#include "wtl/DialogResize.h"

#include <JsonTree.h>

#include <memory>
#include <string>

class CParseContext;
class msg_update_favorite;

// The introduction as a page may show it: its text escaped, a few harmless tags kept without
// their attributes, scripts and styles dropped whole.
std::string SanitizeIntro(const std::string& html);
// The cover cache's name for a cover address: 32 lower-case hex digits of its MD5.
std::wstring CoverKey(const std::string& coverUrl);

class CMangaView : public WTL::CDialogImpl<CMangaView>,
                   public VxView,
                   public VxHTMLBase<CMangaView>,
                   public VxMsgObserver,
                   public WTL::CDialogResize<CMangaView> {
public:
    enum { IDD = IDD_MANGAVIEW };

    CMangaView(const std::wstring& address, const std::string& cookies, std::shared_ptr<CParseContext> context);
    ~CMangaView() override;

    // Creates the view as a child of the tab view; null when its window cannot be made.
    static CMangaView* Make(HWND tabView, const std::wstring& address, const std::string& cookies,
                            std::shared_ptr<CParseContext> context);

    bool OpenUrl(const wchar_t* url) override;
    const wchar_t* GetUrl() override { return address_.c_str(); }

    bool handle_event(HELEMENT he, HL_BEHAVIOR_EVENT& params) override;

    // Reports of the cover request and the volume parser, by observer id and generation.
    void ShowCover(unsigned generation, const std::wstring& picture);
    void OnVolumesParsed(unsigned generation, std::shared_ptr<JsonTree> volumes);
    void OnUpdateFavorite(msg_update_favorite* msg);

    // What the page and the list show, for the tests.
    HWND Engine() const { return engine_; }
    HWND List() const { return list_; }
    bool Parsing() const { return parsing_; }
    std::shared_ptr<CParseContext> Context() const { return context_; }

    BEGIN_MSG_MAP(CMangaView)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    COMMAND_ID_HANDLER(IDC_CHECK_ALL, OnCheckAll)
    COMMAND_ID_HANDLER(IDC_MANGA_REVERSE, OnReverse)
    COMMAND_ID_HANDLER(IDC_MANGA_DOWNLOAD, OnDownload)
    NOTIFY_HANDLER(IDC_MANGA_VOLUMES, LVN_ITEMCHANGED, OnItemChanged)
    NOTIFY_HANDLER(IDC_MANGA_VOLUMES, NM_DBLCLK, OnDoubleClick)
    CHAIN_MSG_MAP(WTL::CDialogResize<CMangaView>)
    END_MSG_MAP()

    BEGIN_DLGRESIZE_MAP(CMangaView)
    DLGRESIZE_CONTROL(IDC_MANGA_PAGE, WTL::DLSZ_SIZE_Y)
    DLGRESIZE_CONTROL(IDC_MANGA_VOLUMES, WTL::DLSZ_SIZE_X | WTL::DLSZ_SIZE_Y)
    DLGRESIZE_CONTROL(IDC_CHECK_ALL, WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_MANGA_REVERSE, WTL::DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_MANGA_DOWNLOAD, WTL::DLSZ_MOVE_X | WTL::DLSZ_MOVE_Y)
    END_DLGRESIZE_MAP()

    void OnFinalMessage(HWND) override { delete this; }

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCheckAll(WORD, WORD, HWND, BOOL&);
    LRESULT OnReverse(WORD, WORD, HWND, BOOL&);
    LRESULT OnDownload(WORD, WORD, HWND, BOOL&);
    LRESULT OnItemChanged(int, NMHDR* hdr, BOOL&);
    LRESULT OnDoubleClick(int, NMHDR* hdr, BOOL&);

    void PostFill();
    void FillPage();
    void RequestCover(const std::string& coverUrl);
    void StartVolumes();
    void ShowVolumes(JsonValue* volumes);
    bool IsFavorite() const;
    void ShowCommands();
    int CallHook(const char* name);
    void SetText(const wchar_t* id, const std::wstring& text);
    std::wstring Text(const wchar_t* key) const;

    std::shared_ptr<CParseContext> context_;
    std::wstring title_;
    std::wstring address_;
    std::string cookies_;
    JsonTree volumes_;
    HWND engine_ = nullptr;
    HWND list_ = nullptr;
    HWND checkAll_ = nullptr;
    unsigned fillGeneration_ = 0;   // a page fill's volumes and cover answer only to their fill
    unsigned coverGeneration_ = 0;
    bool parsing_ = false;
    bool filling_ = false;  // the list is being rebuilt: its tick changes are the view's own
};
