// The parse of one page address through its site script: loading the script, the hooks, the page
// request's settings, the three parsing calls and the statistics of a downloaded comic.
#include "ParseContext.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "JsonUtil.h"
#include "LanguageTranslator.h"
#include "MsgCenter.h"
#include "ScriptManager.h"
#include "ServiceApi.h"

#include <Tessara.h>
#include <common/CodePage.h>
#include <common/FileText.h>
#include <common/Log.h>
#include <common/SetCookie.h>
#include <common/Url.h>

#include <cstdint>
#include <cstring>

namespace {

using Orvane::kStateComplete;
// Far beyond any site script.
const size_t kMaxScriptFile = 64 << 20;

// Statistics are fire and forget: their completion may come after the context is gone, so it goes
// to this client, which lives as long as the process and touches nothing.
class IgnoreAnswer : public Orvane::OvRequest::Client {
public:
    void OnResponse(const Orvane::OvResponse&) override {}
};
IgnoreAnswer g_ignoreAnswer;

}  // namespace

namespace Vellix {

char* StrObject::Allocate(size_t n) {
    text.resize(n);
    return &text[0];
}

FileScript::FileScript(HANDLE file) : file_(file) {
    DWORD size = GetFileSize(file_.get(), nullptr);
    size_ = size == INVALID_FILE_SIZE ? 0 : size;
}

bool FileScript::Read(void* buffer) {
    DWORD done = 0;
    if (size_ == 0)
        return true;
    return ReadFile(file_.get(), buffer, size_, &done, nullptr) && done == size_;
}

}  // namespace Vellix

CParseContext::~CParseContext() {
    Reset();
}

void CParseContext::Reset() {
    if (script && !shared)
        VxReleaseScript(&script);
    script = nullptr;
    lifetimes_.reset();
    if (info)
        deleteValue(&info);
    url.clear();
    page.clear();
    proxy = false;
    shared = true;
}

void CParseContext::SetSharedScript(Vellix::Script* managed, const std::shared_ptr<ScriptLifetimes>& lifetimes) {
    Reset();
    script = managed;
    lifetimes_ = lifetimes;
    shared = true;
    SetupHooks();
}

void CParseContext::SetupHooks() {
    if (!script)
        return;
    script->AllowFunction("Vellix_BeforeNavigate");
    script->AllowFunction("Vellix_AfterParseVolumes");
    script->AllowFunction("Vellix_BeforeDownload");
    AppContextRef context;
    if (context)
        script->SetString("LangID", context->Translator().CurrentCode().c_str());
    Vellix::StrObject wanted;
    if (script->GetString("Proxy", &wanted) == 0 && !wanted.text.empty())
        proxy = true;
    if (!context)
        return;
    script->SetString("Title", ToNarrow(context->Translator().Text(L"Global", L"Name"), CP_UTF8).c_str());
    HWND frame = context->Messages().GetObserverWindow(0);
    script->SetInteger("Window", static_cast<int>(reinterpret_cast<intptr_t>(frame)));
}

bool CParseContext::LoadScriptFile(const std::wstring& path, bool applyProxy, std::string& error) {
    Reset();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "Cannot open " + ToNarrow(path, CP_UTF8);
        return false;
    }
    Vellix::FileScript reader(file);
    Vellix::StrObject errorText;
    Vellix::Script* loaded = VxDevLoadScript(&reader, &errorText);
    if (!loaded) {
        error = errorText.text;
        return false;
    }
    script = loaded;
    shared = false;
    if (applyProxy) {
        AppContextRef context;
        if (context)
            context->Database().ApplyProxy(script);
    }
    SetupHooks();
    return true;
}

bool CParseContext::LoadScriptMemory(const std::wstring& path) {
    Reset();
    std::string bytes;
    if (ReadFileBytes(path, kMaxScriptFile, bytes) != ERROR_SUCCESS)
        return false;
    Vellix::Script* loaded = VxLoadScript(bytes.data(), bytes.size());
    if (!loaded)
        return false;
    script = loaded;
    shared = false;
    SetupHooks();
    return true;
}

bool CParseContext::CheckVersion(std::string& version) {
    if (!shared)
        return false;
    Vellix::StrObject wanted;
    bool newer = false;
    UseScript([&](Vellix::Script* s) { newer = s->CheckVersion(&wanted); });
    if (!newer)
        return false;
    version = wanted.text;
    return true;
}

void CParseContext::BeforeNavigate(std::string& address) {
    std::string ignored;
    int result = RunEntry(
        [&](Vellix::MemObject*) { return script->CallFunction("Vellix_BeforeNavigate", address.c_str(), "N/A", 3); },
        ignored);
    if (result != Vellix::kScriptHookTrue)
        return;
    Vellix::StrObject current;
    int got = -1;
    UseScript([&](Vellix::Script* s) { got = s->GetString("CurrentURL", &current); });
    if (got == 0)
        address = current.text;
}

void CParseContext::PrepareRequest(Orvane::OvRequest* request) {
    if (proxy) {
        AppContextRef context;
        std::string configured = context ? context->Database().GetConfig("Proxy") : std::string();
        if (!configured.empty())
            request->SetProxy(configured.c_str());
    }
    std::string cookies = GetCookies();
    if (!cookies.empty())
        request->SetHeader("Cookie", cookies.c_str());
}

int CParseContext::StartPageRequest(const std::string& address, Orvane::OvRequest::Client& client, bool systemProxy) {
    Orvane::OvRequest* request = Orvane::OvRequest::CreateInstance(address.c_str(), client, nullptr);
    if (systemProxy) {
        std::string system = GetIEProxyForUrl(address.c_str());
        if (!system.empty())
            request->SetProxy(system.c_str());
    }
    request->SetHeader("Accept-Encoding", "gzip, deflate");
    request->SetHeader("Accept-Language", "en-US,en;q=0.8,zh-Hans-CN;q=0.5,zh-Hans;q=0.3");
    PrepareRequest(request);
    return request->Start();
}

bool CParseContext::ReadPage(const Orvane::OvResponse& response, std::string& text) {
    UseScript([&](Vellix::Script* s) {
        for (unsigned i = 0; i < response.GetCookieCount(); ++i) {
            std::string value;
            Orvane::OvStringFetcher<char> sink(value);
            CookieRecord record;
            if (response.GetCookie(i, sink) && ParseSetCookie(record, value)) {
                for (const auto& cookie : record.cookies)
                    s->SetCookie(cookie.first.c_str(), cookie.second.c_str());
            }
        }
    });
    if (response.GetState() != kStateComplete || response.GetStatusCode() != 200)
        return false;
    Orvane::OvStringFetcher<char> sink(text);
    return response.GetBody(sink);
}

std::string CParseContext::GetCookies() {
    Vellix::StrObject text;
    UseScript([&](Vellix::Script* s) { s->GetCookies(&text); });
    return text.text;
}

std::string CParseContext::GetExample() {
    Vellix::StrObject text;
    UseScript([&](Vellix::Script* s) { s->GetExample(&text); });
    return text.text;
}

std::string CParseContext::GetLastError() {
    Vellix::StrObject text;
    UseScript([&](Vellix::Script* s) { s->GetLastError(&text); });
    return text.text;
}

// The manager may release its scripts (the main window going away) while a context still names
// one: every use goes through here, keeps the script whole meanwhile, and none comes after the
// release. False when there is no script to use.
bool CParseContext::UseScript(const std::function<void(Vellix::Script*)>& use) {
    if (!script)
        return false;
    std::unique_ptr<ScriptUse> guard;
    if (shared && lifetimes_) {
        guard.reset(new ScriptUse(lifetimes_, script));
        if (!*guard)
            return false;
    }
    use(script);
    return true;
}

// Runs one call into the script, which a script of the manager's stays loaded for; -1 when there
// is no script to run. A script error goes to the log.
int CParseContext::RunEntry(const std::function<int(Vellix::MemObject*)>& entry, std::string& text) {
    int result = -1;
    Vellix::StrObject sink;
    UseScript([&](Vellix::Script* s) {
        result = entry(&sink);
        if (result == Vellix::kScriptError) {
            Vellix::StrObject error;
            s->GetLastError(&error);
            Brimholt::Log << error.text << std::endl;
        }
    });
    text.swap(sink.text);
    return result;
}

bool CParseContext::ParseInfo(const std::string& address, const std::string& text) {
    std::string json;
    int result = RunEntry(
        [&](Vellix::MemObject* sink) { return script->ParseInfo(sink, address.c_str(), text.data(), text.size()); },
        json);
    if (result != Vellix::kScriptOk)
        return false;
    url = address;
    page = text;
    if (info)
        deleteValue(&info);
    info = ParseJsonText(json);
    return true;
}

namespace {

bool TakeList(const std::string& json, JsonValue*& result) {
    JsonValue* parsed = ParseJsonText(json);
    if (result)
        deleteValue(&result);
    result = parsed;
    return getValueType(result) == 4 && getArraySize(result) > 0;
}

}  // namespace

bool CParseContext::ParseVolumes(JsonValue*& result) {
    std::string json;
    int code = RunEntry(
        [&](Vellix::MemObject* sink) { return script->ParseVolumes(sink, url.c_str(), page.data(), page.size()); },
        json);
    return code == Vellix::kScriptOk && TakeList(json, result);
}

bool CParseContext::ParseImages(JsonValue*& result, const std::string& volumeUrl, Vellix::NotifyCallback* observer) {
    std::string json;
    int code =
        RunEntry([&](Vellix::MemObject* sink) { return script->ParseImages(sink, volumeUrl.c_str(), observer); }, json);
    return code == Vellix::kScriptOk && TakeList(json, result);
}

void CParseContext::ReportStatistics() {
    if (!shared || !info)
        return;
    std::string address;
    if (!JsonGetStringMember(info, "stat", address))
        address = url;
    AppContext* context = GetAppContext();
    if (!context || !context->MarkReported(address))
        return;
    std::string type, name;
    if (!JsonGetStringMember(info, "type", type) || type != "index" || !JsonGetStringMember(info, "name", name))
        return;
    Orvane::OvRequest* request = Orvane::OvRequest::CreateInstance(StatisticsUrl().c_str(), g_ignoreAnswer, nullptr);
    request->SetFormField("name", name.c_str());
    request->SetFormField("url", address.c_str());
    std::string text;
    if (JsonGetStringMember(info, "author", text))
        request->SetFormField("author", text.c_str());
    if (JsonGetStringMember(info, "intro", text))
        request->SetFormField("intro", text.c_str());
    bool finished = false;
    if (IsFinished(&finished))
        request->SetFormField("finished", finished ? "1" : "2");
    request->Start();  // a request that does not start has deleted itself; nothing waits for it
}

bool CParseContext::GetField(int index, Vellix::MemObject* sink) {
    static const char* const kNames[] = {nullptr, nullptr, "name", "author", "cover", "intro", "category"};
    if (index < 0 || index > 6 || !sink)
        return false;
    std::string value;
    if (index == 0) {
        if (!JsonGetStringMember(info, "stat", value))
            value = url;
    } else if (index == 1) {
        value = page;
    } else {
        JsonGetStringMember(info, kNames[index], value);
    }
    if (value.empty())
        return false;
    char* buffer = sink->Allocate(value.size());
    if (!buffer)
        return false;
    memcpy(buffer, value.data(), value.size());
    return true;
}

bool CParseContext::IsFinished(bool* out) {
    bool finished = false;
    if (!out || !JsonGetBooleanMember(info, "finished", finished))
        return false;
    *out = finished;
    return true;
}
