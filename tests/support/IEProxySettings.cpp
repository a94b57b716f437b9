// The settings blob: version, counter, flags, proxy text, bypass list, script address, then room
// that the readers expect.
#include "IEProxySettings.h"

#include <windows.h>

#include <vector>

namespace vxtest {

namespace {

const wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kValue[] = L"DefaultConnectionSettings";

}  // namespace

long WriteIEProxy(const std::string& proxy, unsigned long counter)
{
    std::vector<BYTE> blob;
    auto dword = [&](DWORD v) {
        const BYTE* p = reinterpret_cast<const BYTE*>(&v);
        blob.insert(blob.end(), p, p + 4);
    };
    dword(0x46);
    dword(counter);
    dword(proxy.empty() ? 1 : 3);  // direct, plus manual proxy
    dword(static_cast<DWORD>(proxy.size()));
    blob.insert(blob.end(), proxy.begin(), proxy.end());
    dword(0);
    dword(0);
    blob.resize(blob.size() + 32);
    HKEY key;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueExW(key, kValue, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    RegCloseKey(key);
    return rc;
}

void ClearIEProxy()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kValue);
        RegCloseKey(key);
    }
}

}  // namespace vxtest
