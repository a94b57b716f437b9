// The host side of the program's HTML pages: VxHTMLBase<T> answers the engine's notifications for
// T's engine window (resources from the program's own module) and handles link clicks; the page
// loaders set the media type, fill templates from the language texts and attach the handler.
#pragma once

#include <windows.h>

#include <string>

#include "wtl/HTMLayoutHost.h"

namespace vxhtml {

// "contrast-screen" while the system's high contrast is on, else "screen".
const wchar_t* MediaType();
bool ReadHtmlResource(const wchar_t* name, std::string& out);
bool LoadHtmlText(HWND engine, const std::string& utf8);
bool LoadHtmlResource(HWND engine, const wchar_t* name);
// The page with its placeholders filled from the language section.
bool LoadHtmlTemplate(HWND engine, const wchar_t* name, const wchar_t* section);
void AnswerLoadData(const HL_NM_LOAD_DATA* request);
bool FollowLink(HELEMENT link);

}  // namespace vxhtml

template <class T>
class VxHTMLBase : public WTL::CHTMLayoutHost<T>,
                   public htmlayout::event_handler,
                   public htmlayout::notification_handler<T> {
public:
    // Each load replaces the document, so the handler is attached to each new root.
    bool LoadHtmlResource(HWND engine, const wchar_t* name) {
        return vxhtml::LoadHtmlResource(engine, name) && AttachToRoot(engine);
    }
    bool LoadHtmlTemplate(HWND engine, const wchar_t* name, const wchar_t* section) {
        return vxhtml::LoadHtmlTemplate(engine, name, section) && AttachToRoot(engine);
    }
    bool LoadHtmlText(HWND engine, const std::string& utf8) {
        return vxhtml::LoadHtmlText(engine, utf8) && AttachToRoot(engine);
    }

    UINT OnLoadData(HL_NM_LOAD_DATA* request) {
        vxhtml::AnswerLoadData(request);
        return 0;
    }
    // The engine attaches no named behaviours: nothing to hand over.
    UINT OnAttachBehavior(NMHDR*) { return 0; }
    // Views override handle_event for their own commands and fall back to this.
    bool OnHyperlinkClick(HL_BEHAVIOR_EVENT& params) {
        return params.cmd == HL_HYPERLINK_CLICK && vxhtml::FollowLink(params.target);
    }

    UINT on_load_data(HL_NM_LOAD_DATA* request) override { return static_cast<T*>(this)->OnLoadData(request); }
    UINT on_attach_behavior(NMHDR* hdr) override { return static_cast<T*>(this)->OnAttachBehavior(hdr); }
    bool handle_event(HELEMENT, HL_BEHAVIOR_EVENT& params) override { return OnHyperlinkClick(params); }

private:
    bool AttachToRoot(HWND engine) {
        htmlayout::dom::element root = htmlayout::dom::element::root_element(engine);
        return root && attach_event_handler(root.get());
    }
};
