// The current user's Internet Explorer proxy (through WinHTTP) and the service's redirect links.
#include "Url.h"

#include <windows.h>
#include <shellapi.h>
#include <winhttp.h>

#include <atomic>

#include "CodePage.h"
#include "Log.h"

namespace {

void ShellOpen(const char* verb, const char* target)
{
    ShellExecuteA(nullptr, verb, target, nullptr, nullptr, SW_SHOWNORMAL);
}

std::atomic<ShellOpener> g_shellOpener{ShellOpen};

void FreeGlobal(LPWSTR text)
{
    if (text)
        GlobalFree(text);
}

}  // namespace

bool LoadIEProxyMap(ProxyMap& map)
{
    map.clear();
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        DWORD error = GetLastError();
        // A user without any proxy settings is no failure worth a line.
        if (error != ERROR_FILE_NOT_FOUND)
            Brimholt::Log << "WinHttpGetIEProxyConfigForCurrentUser failed: " << error << std::endl;
        return false;
    }
    std::string text = ToNarrowCStr(config.lpszProxy, CP_UTF8);
    FreeGlobal(config.lpszAutoConfigUrl);
    FreeGlobal(config.lpszProxy);
    FreeGlobal(config.lpszProxyBypass);
    return ParseProxyText(map, text);
}

std::string GetIEProxyForUrl(const char* url)
{
    ProxyMap proxies;
    if (!LoadIEProxyMap(proxies))
        return std::string();
    UrlMap parts;
    if (!ParseUrl(parts, url))
        return std::string();
    return ProxyForScheme(proxies, parts.Get("scheme"));
}

void OpenRedirectLink(const char* key)
{
    g_shellOpener.load()("open", RedirectLinkUrl(key).c_str());
}

ShellOpener SetShellOpener(ShellOpener opener)
{
    return g_shellOpener.exchange(opener ? opener : ShellOpen);
}
