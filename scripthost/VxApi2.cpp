// The host module "vxapi2": page fetches with the script's cookies, notifications to the program's
// observer, JSON, text conversion, message boxes and the host table.
//
// Every lua_CFunction here reads its arguments, hands the C++ work to a helper that returns, and
// only then may raise (a refused string push): Lua's longjmp must not cross a live C++ object.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "Dornet.h"
#include "LuaSupport.h"
#include "ScriptImpl.h"
#include "ScriptText.h"
#include "Tessara.h"
#include "TessaraLua.h"
#include "json/JsonTree.h"
#include "common/CodePage.h"
#include "common/Log.h"
#include "common/Scoped.h"
#include "common/SetCookie.h"
#include "common/Url.h"

namespace Vellix {

namespace {

const char kUserAgent[] = "Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.2; WOW64; Trident/6.0)";
const char kAcceptLanguage[] = "en-US,en;q=0.8,zh-Hans-CN;q=0.5,zh-Hans;q=0.3";
// A server that never answers must not hold the script (and its mutex) for ever.
const int kHttpGetTimeoutSeconds = 120;

// Receives one completion. Owned jointly by the waiting script call and the pending completion,
// so a call that stopped waiting leaves the client to the completion that still comes.
class ScriptClient final : public Orvane::OvRequest::Client {
public:
    static ScriptClient* Create()
    {
        AutoHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event) {
            Brimholt::Log << "HttpGet: CreateEvent failed: " << ::GetLastError() << std::endl;
            return nullptr;
        }
        return new (std::nothrow) ScriptClient(std::move(event));
    }

    void OnResponse(const Orvane::OvResponse& response) override
    {
        response.AddRef();
        response_ = &response;
        SetEvent(event_.get());
        Release();
    }

    void Hold() { ++holds_; }
    void Release()
    {
        if (--holds_ == 0)
            delete this;
    }

    // The response once completed within ms milliseconds, else null.
    const Orvane::OvResponse* Wait(DWORD ms)
    {
        return WaitForSingleObject(event_.get(), ms) == WAIT_OBJECT_0 ? response_ : nullptr;
    }

private:
    explicit ScriptClient(AutoHandle event) : event_(std::move(event)) {}
    ~ScriptClient()
    {
        if (response_)
            response_->Release();
        if (!event_.reset())
            Brimholt::Log << "HttpGet: CloseHandle failed: " << ::GetLastError() << std::endl;
    }

    AutoHandle event_;
    const Orvane::OvResponse* response_ = nullptr;
    std::atomic<int> holds_{1};
};

struct ClientRelease {
    void operator()(ScriptClient* client) const { client->Release(); }
};

bool Fetch(VxScriptImpl& script, const char* url, const char* referer, const char* cookie, const char* proxy,
           std::string& body)
{
    std::unique_ptr<ScriptClient, ClientRelease> client(ScriptClient::Create());
    if (!client)
        return false;
    std::unique_ptr<Orvane::OvRequest> request(Orvane::OvRequest::CreateInstance(url, *client, nullptr));
    if (!request)
        return false;

    std::string proxyText = proxy && *proxy ? std::string(proxy) : GetIEProxyForUrl(url);
    if (!proxyText.empty())
        request->SetProxy(proxyText.c_str());
    request->SetHeader("User-Agent", kUserAgent);
    if (referer)
        request->SetHeader("Referer", referer);
    std::string cookies = script.CookieText(cookie ? cookie : "");
    if (!cookies.empty())
        request->SetHeader("Cookie", cookies.c_str());
    request->SetHeader("Accept-Encoding", "gzip, deflate");
    request->SetHeader("Accept-Language", kAcceptLanguage);
    request->SetTimeout(kHttpGetTimeoutSeconds);

    client->Hold();  // for the completion
    if (request.release()->Start() != Orvane::kStarted) {
        client->Release();
        return false;
    }
    // A little longer than the request's own limit, which normally ends the request first.
    const Orvane::OvResponse* response = client->Wait((kHttpGetTimeoutSeconds + 5) * 1000u);
    if (!response) {
        Brimholt::Log << "HttpGet: no answer in time from " << url << std::endl;
        return false;
    }
    if (response->GetState() != Orvane::kStateComplete)
        return false;

    unsigned count = response->GetCookieCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string text;
        Orvane::OvStringFetcher<char> sink(text);
        if (!response->GetCookie(i, sink))
            continue;
        CookieRecord record;
        ParseSetCookie(record, text);
        for (const auto& pair : record.cookies)
            script.SetCookie(pair.first.c_str(), pair.second.c_str());
    }
    Orvane::OvStringFetcher<char> sink(body);
    response->GetBody(sink);
    return true;
}

// The helpers below push exactly one value and return 1, or return -1 with an error value pushed.

int PushFetched(lua_State* L, VxScriptImpl& script, const char* url, const char* referer, const char* cookie,
                const char* proxy)
{
    std::string body;
    bool ok = false;
    try {
        ok = Fetch(script, url, referer, cookie, proxy, body);
    } catch (const std::exception& e) {
        Brimholt::Log << "HttpGet: " << e.what() << std::endl;
    }
    if (!ok) {
        lua_pushnil(L);
        return 1;
    }
    return PushStringProtected(L, body) ? 1 : -1;
}

int PushUtf8(lua_State* L, const char* text, size_t length, unsigned codePage)
{
    std::string utf8;
    try {
        std::wstring wide = ToWide(std::string(text, length), codePage);
        utf8 = ToUtf8CStr(wide.c_str());  // ends at the first zero character
    } catch (const std::bad_alloc&) {
        lua_pushnil(L);
        return 1;
    }
    return PushStringProtected(L, utf8) ? 1 : -1;
}

int PushDecoded(lua_State* L, const char* text, size_t length)
{
    std::string out;
    try {
        out.resize(length);
        out.resize(DecodeBase64(text, length, &out[0]));
    } catch (const std::bad_alloc&) {
        lua_pushnil(L);
        return 1;
    }
    return PushStringProtected(L, out) ? 1 : -1;
}

int PushCookie(lua_State* L, VxScriptImpl& script, const char* name, size_t length)
{
    std::string value;
    bool found = false;
    try {
        found = script.FindCookie(std::string(name, length), value);
    } catch (const std::bad_alloc&) {
    }
    if (!found) {
        lua_pushnil(L);
        return 1;
    }
    return PushStringProtected(L, value) ? 1 : -1;
}

void LogDebugText(const char* text, size_t length, unsigned codePage)
{
    try {
        std::string ansi = ToNarrow(ToWide(std::string(text, length), codePage), CP_ACP);
        Brimholt::Log << ansi << std::endl;
    } catch (const std::bad_alloc&) {
    }
}

void LogLine(const char* text)
{
    Brimholt::Log << text << std::endl;
}

void OpenWithShell(const char* url, size_t length, unsigned codePage)
{
    try {
        std::wstring wide = ToWide(std::string(url, length), codePage);
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    } catch (const std::bad_alloc&) {
    }
}

bool ShowMessage(const char* text, size_t length, unsigned codePage, bool confirm, const char* caption,
                 size_t captionLength, HWND owner)
{
    try {
        std::wstring wideText = ToWide(std::string(text, length), codePage);
        std::wstring wideCaption = caption ? ToWide(std::string(caption, captionLength), CP_UTF8) : std::wstring();
        UINT flags = confirm ? MB_OKCANCEL | MB_ICONQUESTION : MB_OK | MB_ICONINFORMATION;
        return MessageBoxW(owner, wideText.c_str(), wideCaption.c_str(), flags) == IDOK;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool EqualsNoCase(const char* text, size_t length, const char* word)
{
    if (length != std::strlen(word))
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

bool Equals(const char* text, size_t length, const char* word)
{
    return length == std::strlen(word) && std::memcmp(text, word, length) == 0;
}

bool IsReserved(VxScriptImpl& script, const char* name, size_t length)
{
    try {
        return script.IsReservedKey(std::string(name, length));
    } catch (const std::bad_alloc&) {
        return true;
    }
}

ObjectFactory LookUpFactory(VxScriptImpl& script, const char* name, size_t length)
{
    try {
        return script.FindFactory(std::string(name, length));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int Finish(lua_State* L, int pushed)
{
    return pushed < 0 ? lua_error(L) : pushed;
}

// The module functions, in the order of the module table.

int DebugPrint(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return 0;
    size_t length = 0;
    const char* text = lua_tolstring(L, 1, &length);
    LogDebugText(text, length, GetScriptCodePage(L, CP_UTF8));
    return 0;
}

int HttpGet(lua_State* L)
{
    VxScriptImpl* script = ScriptOf(L);
    if (!lua_isstring(L, 1) || !script) {
        lua_pushnil(L);
        return 1;
    }
    const char* url = lua_tostring(L, 1);
    const char* referer = lua_isstring(L, 2) ? lua_tostring(L, 2) : nullptr;
    const char* cookie = lua_isstring(L, 3) ? lua_tostring(L, 3) : nullptr;
    PushHostField(L, "Proxy");  // stays on the stack while its text is in use
    const char* proxy = lua_isstring(L, -1) ? lua_tostring(L, -1) : nullptr;
    return Finish(L, PushFetched(L, *script, url, referer, cookie, proxy));
}

int NewObject(lua_State* L)
{
    VxScriptImpl* script = ScriptOf(L);
    ObjectFactory factory = nullptr;
    if (script && lua_isstring(L, 1)) {
        size_t length = 0;
        const char* name = lua_tolstring(L, 1, &length);
        factory = LookUpFactory(*script, name, length);
    }
    if (!factory) {
        lua_pushnil(L);
        return 1;
    }
    return factory(L);
}

int Notify(lua_State* L)
{
    int last = lua_gettop(L);
    VxScriptImpl* script = ScriptOf(L);
    NotifyCallback* observer = script ? script->Observer() : nullptr;
    if (!observer)
        return 0;
    if (!lua_isstring(L, 1)) {
        LogLine("Invalid notify name.");
        return 0;
    }
    size_t length = 0;
    const char* name = lua_tolstring(L, 1, &length);
    bool valueIsString = lua_isstring(L, 2) != 0;
    if (Equals(name, length, "URL")) {
        if (valueIsString)
            observer->OnURL(lua_tostring(L, 2));
    } else if (Equals(name, length, "count")) {
        if (lua_isnumber(L, 2))
            observer->OnCount(static_cast<int>(lua_tointeger(L, 2)));
    } else if (Equals(name, length, "cookie")) {
        if (valueIsString)
            observer->OnCookie(lua_tostring(L, 2));
    } else if (Equals(name, length, "headers")) {
        if (valueIsString)
            observer->OnHeaders(lua_tostring(L, 2));
    } else if (Equals(name, length, "save")) {
        if (valueIsString && lua_isstring(L, last)) {
            size_t size = 0;
            const char* data = lua_tolstring(L, last, &size);
            observer->OnSave(data, size);
        }
    } else if (Equals(name, length, "navigate")) {
        if (valueIsString && lua_isstring(L, last))
            observer->OnNavigate(lua_tostring(L, last));
    }
    return 0;
}

int ParseJSON(lua_State* L)
{
    size_t length = 0;
    const char* text = lua_isstring(L, 1) ? lua_tolstring(L, 1, &length) : nullptr;
    JsonTree value;
    // startParseMemory reads a length of 0 as "up to the terminator", which is the empty text here.
    if (text && length > 0 && length <= INT_MAX) {
        JsonParseSource* source = startParseMemory(text, static_cast<int>(length));
        value.reset(jsonParse(source));
        finishParsing(&source);
    }
    // Converted under its own protected call: nothing here raises past the tree's owner.
    if (!value || !luaH_pushvalue(L, value.get()))
        lua_pushnil(L);
    return 1;
}

int ToUTF8(lua_State* L)
{
    if (!lua_isstring(L, 1)) {
        lua_pushnil(L);
        return 1;
    }
    size_t length = 0;
    const char* text = lua_tolstring(L, 1, &length);
    unsigned codePage =
        lua_type(L, 2) == LUA_TNUMBER ? static_cast<unsigned>(lua_tointeger(L, 2)) : GetScriptCodePage(L, CP_ACP);
    return Finish(L, PushUtf8(L, text, length, codePage));
}

int SleepSeconds(lua_State* L)
{
    if (!lua_isnumber(L, 1))
        return 0;
    Sleep(SleepMilliseconds(lua_tonumber(L, 1), lua_tointeger(L, 1)));
    return 0;
}

int Base64Decode(lua_State* L)
{
    size_t length = 0;
    const char* text = lua_isstring(L, 1) ? lua_tolstring(L, 1, &length) : nullptr;
    if (!text || length == 0) {
        lua_pushnil(L);
        return 1;
    }
    return Finish(L, PushDecoded(L, text, length));
}

int Get(lua_State* L)
{
    if (!lua_isstring(L, 1) || !PushHostTable(L)) {
        lua_pushnil(L);
        return 1;
    }
    lua_tostring(L, 1);  // a number name looks up its text
    lua_pushvalue(L, 1);
    lua_rawget(L, -2);
    return 1;
}

int Set(lua_State* L)
{
    VxScriptImpl* script = ScriptOf(L);
    lua_settop(L, 2);
    size_t length = 0;
    const char* name = lua_isstring(L, 1) ? lua_tolstring(L, 1, &length) : nullptr;
    if (!script || !name || IsReserved(*script, name, length) || !PushHostTable(L)) {
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushvalue(L, 1);
    lua_pushvalue(L, 2);
    lua_rawset(L, -3);
    lua_pushboolean(L, 1);
    return 1;
}

int Navigate(lua_State* L)
{
    if (!lua_isstring(L, 1))
        return 0;
    size_t length = 0;
    const char* url = lua_tolstring(L, 1, &length);
    OpenWithShell(url, length, GetScriptCodePage(L, CP_UTF8));
    return 0;
}

int MsgBox(lua_State* L)
{
    if (!lua_isstring(L, 1)) {
        lua_pushboolean(L, 0);
        return 1;
    }
    size_t length = 0;
    const char* text = lua_tolstring(L, 1, &length);
    size_t kindLength = 0;
    const char* kind = lua_type(L, 2) == LUA_TSTRING ? lua_tolstring(L, 2, &kindLength) : nullptr;
    bool confirm = kind && EqualsNoCase(kind, kindLength, "confirm");
    unsigned codePage = GetScriptCodePage(L, CP_UTF8);

    PushHostField(L, "Title");  // stays on the stack while its text is in use
    size_t captionLength = 0;
    const char* caption = lua_isstring(L, -1) ? lua_tolstring(L, -1, &captionLength) : nullptr;
    PushHostField(L, "Window");
    HWND owner = nullptr;
    if (lua_type(L, -1) == LUA_TNUMBER)
        owner = reinterpret_cast<HWND>(static_cast<intptr_t>(lua_tointeger(L, -1)));

    bool ok = ShowMessage(text, length, codePage, confirm, caption, captionLength, owner);
    lua_pushboolean(L, ok);
    return 1;
}

int GetCookie(lua_State* L)
{
    VxScriptImpl* script = ScriptOf(L);
    if (!script || !lua_isstring(L, 1)) {
        lua_pushnil(L);
        return 1;
    }
    size_t length = 0;
    const char* name = lua_tolstring(L, 1, &length);
    return Finish(L, PushCookie(L, *script, name, length));
}

const luaL_Reg kFunctions[] = {
    {"DebugPrint", DebugPrint},
    {"HttpGet", HttpGet},
    {"NewObject", NewObject},
    {"Notify", Notify},
    {"ParseJSON", ParseJSON},
    {"ToUTF8", ToUTF8},
    {"Sleep", SleepSeconds},
    {"Base64Decode", Base64Decode},
    {"Get", Get},
    {"Set", Set},
    {"Navigate", Navigate},
    {"MsgBox", MsgBox},
    {"GetCookie", GetCookie},
    {nullptr, nullptr},
};

}  // namespace

int OpenVxApi2(lua_State* L)
{
    CreateJsMetatable(L);
    lua_createtable(L, 0, static_cast<int>(sizeof kFunctions / sizeof kFunctions[0] - 1));
    luaL_setfuncs(L, kFunctions, 0);
    return 1;
}

}  // namespace Vellix
