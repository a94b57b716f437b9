// Loading the program's pages into engine windows, answering their resource requests from the
// program's module, and what a link click does.
#include "VxHTMLBase.h"

#include "AppContext.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "ViewText.h"
#include "wtl/Module.h"
#include "wtl/Seams.h"

#include <common/CodePage.h>
#include <common/Log.h>

#include <map>

namespace vxhtml {

namespace {

HMODULE ProgramModule() {
    HINSTANCE resources = WTL::AppModule().GetResourceInstance();
    return resources ? resources : GetModuleHandleW(nullptr);
}

// The bytes of a resource of the program; false when it is missing or empty.
bool FindBytes(const wchar_t* name, const wchar_t* type, const BYTE*& data, DWORD& size) {
    HMODULE module = ProgramModule();
    HRSRC found = FindResourceW(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    size = data ? SizeofResource(module, found) : 0;
    return data && size > 0;
}

}  // namespace

const wchar_t* MediaType() {
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof(contrast);
    bool high = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
                (contrast.dwFlags & HCF_HIGHCONTRASTON);
    return high ? L"contrast-screen" : L"screen";
}

bool ReadHtmlResource(const wchar_t* name, std::string& out) {
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (!FindBytes(name, RT_HTML, data, size))
        return false;
    out.assign(reinterpret_cast<const char*>(data), size);
    return true;
}

bool LoadHtmlText(HWND engine, const std::string& utf8) {
    WTL::CHTMLayoutCtrl ctrl(engine);
    if (!ctrl.SetMediaType(MediaType()))
        return false;
    return ctrl.LoadHtml(utf8.data(), utf8.size());
}

bool LoadHtmlResource(HWND engine, const wchar_t* name) {
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (!FindBytes(name, RT_HTML, data, size)) {
        Brimholt::Log << "The page resource is missing: " << ToNarrow(name, CP_UTF8) << std::endl;
        return false;
    }
    WTL::CHTMLayoutCtrl ctrl(engine);
    return ctrl.SetMediaType(MediaType()) && ctrl.LoadHtml(data, size);
}

bool LoadHtmlTemplate(HWND engine, const wchar_t* name, const wchar_t* section) {
    std::string page;
    if (!ReadHtmlResource(name, page)) {
        Brimholt::Log << "The page resource is missing: " << ToNarrow(name, CP_UTF8) << std::endl;
        return false;
    }
    std::map<std::string, std::string> texts;
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().GetSectionStrings(section, texts);
    FillTemplate(page, texts);
    return LoadHtmlText(engine, page);
}

// Unanswered, the engine loads the address itself (files only).
void AnswerLoadData(const HL_NM_LOAD_DATA* request) {
    if (!request || !request->uri || !request->uri[0])
        return;
    std::wstring name, type;
    if (!ResourceOfAddress(request->uri, name, type))
        return;
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (!FindBytes(name.c_str(), type.empty() ? RT_HTML : type.c_str(), data, size))
        return;
    HTMLayoutDataReady(request->hdr.hwndFrom, request->uri, const_cast<LPBYTE>(data), size);
}

bool FollowLink(HELEMENT link) {
    htmlayout::dom::element target(link);
    const wchar_t* href = target.get_attribute("href");
    switch (ClassifyLink(href, target.has_attribute("execute"))) {
        case LinkAction::None:
            return false;
        case LinkAction::Execute: {
            AppContext* ctx = GetAppContext();
            auto* msg = new msg_execute(href);
            if (!ctx || !ctx->Messages().PostTo(0, msg))
                delete msg;
            return true;
        }
        case LinkAction::Beep:
            WTL::PlayMessageBeep(0);
            return true;
        case LinkAction::Open:
        case LinkAction::Refuse:
            // Refused addresses only beep there.
            WTL::OpenWebAddress(nullptr, href);
            return true;
    }
    return false;
}

}  // namespace vxhtml
