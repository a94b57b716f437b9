// The download manager and the loading of the optional downloader plug-in.
#include "VxDownloadMgr.h"

#include "AppContext.h"
#include "AppPath.h"
#include "LanguageTranslator.h"

#include <common/Log.h>

#include <windows.h>

namespace {

const char kBuiltInId[] = "Vellix";

bool IsBuiltIn(const char* identifier) {
    return identifier && lstrcmpiA(identifier, kBuiltInId) == 0;
}

}  // namespace

VxDownloadMgr::VxDownloadMgr() : active_(&builtIn_) {
    LoadPlugin();
    AppContextRef context;
    if (!context)
        return;
    std::string chosen = context->Database().GetConfig("Downloader");
    if (!chosen.empty() && !Select(chosen.c_str()))
        context->Database().SetConfig("Downloader", kBuiltInId);
}

// By full path from the program folder: a bare name would let the search path pick any DLL of
// that name.
void VxDownloadMgr::LoadPlugin() {
    std::wstring path = GetAppPath(L"Kestrade.dll");
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        Brimholt::Log << "Cannot load the downloader plug-in: " << GetLastError() << std::endl;
        return;
    }
    auto get = reinterpret_cast<VxGetDownloaderManagerProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "VxGetDownloaderManager")));
    if (!get) {
        FreeLibrary(module);
        return;
    }
    plugin_ = get();
}

void VxDownloadMgr::EnumDownloaders(Vellix::DownloaderEnumProc callback, void* user) {
    if (!callback)
        return;
    std::wstring name = L"Vellix";
    AppContextRef context;
    if (context)
        name = context->Translator().Text(L"Global", L"Name");
    callback(kBuiltInId, name.c_str(), user);
    if (plugin_)
        plugin_->EnumDownloaders(callback, user);
}

Vellix::Downloader* VxDownloadMgr::GetDownloader(const char* identifier) {
    if (IsBuiltIn(identifier))
        return &builtIn_;
    return plugin_ && identifier ? plugin_->GetDownloader(identifier) : nullptr;
}

bool VxDownloadMgr::Select(const char* identifier) {
    Vellix::Downloader* next = GetDownloader(identifier);
    if (!next)
        return false;
    // The built-in one is told only when it changes; a plug-in's downloader hears every choice.
    if (next == &builtIn_ && active_ == &builtIn_)
        return true;
    active_->SetActive(false);
    active_ = next;
    active_->SetActive(true);
    return true;
}
