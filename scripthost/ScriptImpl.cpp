// The script object: entry-point calls under the script's mutex, results as JSON text, the host
// table, cookies and the last error.
#include "ScriptImpl.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "LuaSupport.h"
#include "ScriptText.h"
#include "Tessara.h"
#include "TessaraLua.h"
#include "json/JsonTree.h"

namespace Vellix {

const char kEngineVersion[] = "1.5.1.12";

namespace {

const char* const kReservedKeys[] = {"LangID", "NetType", "Object", "Observer", "Window"};

struct FactoryRow {
    const char* name;
    ObjectFactory factory;
};
const FactoryRow kFactories[] = {{"JsInterpreter", NewJsInterpreter}};

// Puts the Lua stack back where it was, on every way out.
class StackTop {
public:
    explicit StackTop(lua_State* L) : L_(L), top_(lua_gettop(L)) {}
    ~StackTop() { lua_settop(L_, top_); }
    StackTop(const StackTop&) = delete;
    StackTop& operator=(const StackTop&) = delete;

private:
    lua_State* L_;
    int top_;
};

bool IsEmpty(const char* text, size_t length)
{
    return !text || (length == 0 && text[0] == '\0');
}

void PushText(lua_State* L, const char* text, size_t length)
{
    if (length != 0)
        lua_pushlstring(L, text, length);
    else
        lua_pushstring(L, text);
}

// The protected part of every call into script code: looking the function up may run a
// metamethod of the globals table, and the call itself may fail.
struct EntryCall {
    const char* name;
    const char* first;
    const char* second;  // null for a call with one argument
    size_t length;
    bool missing;
};

int RunEntry(lua_State* L)
{
    EntryCall* call = static_cast<EntryCall*>(lua_touserdata(L, 1));
    lua_getglobal(L, call->name);
    if (!lua_isfunction(L, -1)) {
        call->missing = true;
        return 0;
    }
    lua_pushstring(L, call->first);
    int args = 1;
    if (call->second) {
        PushText(L, call->second, call->length);
        args = 2;
    }
    lua_call(L, args, 1);
    return 1;
}

// Runs the call protected, leaving one result (or Lua's error value) on the stack.
int ProtectedEntry(lua_State* L, EntryCall& call)
{
    lua_pushcfunction(L, RunEntry);
    lua_pushlightuserdata(L, &call);
    return lua_pcall(L, 1, 1, 0);
}

int GetGlobal(lua_State* L)
{
    lua_getglobal(L, static_cast<const char*>(lua_touserdata(L, 1)));
    return 1;
}

// Pushes the global (nil when looking it up failed).
void PushGlobal(lua_State* L, const char* name)
{
    lua_pushcfunction(L, GetGlobal);
    lua_pushlightuserdata(L, const_cast<char*>(name));
    if (lua_pcall(L, 1, 1, 0) != 0) {
        lua_pop(L, 1);
        lua_pushnil(L);
    }
}

int OpenState(lua_State* L)
{
    void* self = lua_touserdata(L, 1);
    luaL_openlibs(L);
    lua_createtable(L, 0, 4);
    // For scripts that read it; the host finds its object through VxScriptImpl::FromState.
    lua_pushinteger(L, static_cast<lua_Integer>(reinterpret_cast<intptr_t>(self)));
    lua_setfield(L, -2, "Object");
    lua_setglobal(L, HostTableName());
    luaL_requiref(L, "vxapi2", OpenVxApi2, 1);
    return 0;
}

struct ChunkSource {
    const std::string* text;
    bool handedOver;
};

const char* ReadChunk(lua_State*, void* data, size_t* size)
{
    ChunkSource* source = static_cast<ChunkSource*>(data);
    if (source->handedOver) {
        *size = 0;
        return nullptr;
    }
    source->handedOver = true;
    *size = source->text->size();
    return source->text->data();
}

int TESSARA_CALL AppendChunk(const char* chunk, void* user)
{
    try {
        static_cast<std::string*>(user)->append(chunk);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    return 0;
}

bool Serialize(JsonValue* value, std::string& text)
{
    text.clear();
    return jsonSerialize(value, AppendChunk, &text);
}

void AsciiLower(std::string& text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace

bool WriteToSink(MemObject* sink, const char* text, size_t length)
{
    if (!sink || length == 0)
        return false;
    char* buffer = sink->Allocate(length);
    if (!buffer)
        return false;
    std::memcpy(buffer, text, length);
    return true;
}

VxScriptImpl::VxScriptImpl(lua_State* L) : mutex_(CreateMutexW(nullptr, FALSE, nullptr)), L_(L)
{
    // The object rides in the allocator's context, the one slot of a state that no Lua code can
    // read or write; the state's own allocator still does the work.
    alloc_ = lua_getallocf(L_, &allocContext_);
    lua_setallocf(L_, Allocate, this);
    for (const char* key : kReservedKeys)
        reservedKeys_.insert(key);
    for (const FactoryRow& row : kFactories) {
        std::string name = row.name;
        AsciiLower(name);
        factories_[name] = row.factory;
    }
}

VxScriptImpl::~VxScriptImpl()
{
    if (L_)
        lua_close(L_);
}

void* VxScriptImpl::Allocate(void* self, void* block, size_t oldSize, size_t newSize)
{
    VxScriptImpl* script = static_cast<VxScriptImpl*>(self);
    return script->alloc_(script->allocContext_, block, oldSize, newSize);
}

VxScriptImpl* VxScriptImpl::FromState(lua_State* L)
{
    void* context = nullptr;
    return lua_getallocf(L, &context) == Allocate ? static_cast<VxScriptImpl*>(context) : nullptr;
}

bool VxScriptImpl::Open()
{
    if (!mutex_) {
        lastError_ = "Cannot create the script's mutex.";
        return false;
    }
    StackTop top(L_);
    lua_pushcfunction(L_, OpenState);
    lua_pushlightuserdata(L_, this);
    if (lua_pcall(L_, 1, 0, 0) != 0) {
        TakeError();
        return false;
    }
    return true;
}

bool VxScriptImpl::Run(const std::string& text)
{
    StackTop top(L_);
    ChunkSource source = {&text, false};
    int result = lua_load(L_, ReadChunk, &source, nullptr, nullptr);
    if (result == 0)
        result = lua_pcall(L_, 0, LUA_MULTRET, 0);
    if (result != 0) {
        TakeError();
        return false;
    }
    return true;
}

void VxScriptImpl::TakeError()
{
    lastError_ = ErrorText(L_, -1);
    lua_pop(L_, 1);
}

// Caller holds the mutex. On code 0, *result holds the converted value (possibly null for a
// result of a type that does not convert).
int VxScriptImpl::CallEntry(const char* name, const char* url, const char* text, size_t length, JsonValue** result)
{
    StackTop top(L_);
    EntryCall call = {name, url, text, length, false};
    if (ProtectedEntry(L_, call) != 0) {
        TakeError();
        return kScriptError;
    }
    if (call.missing) {
        lastError_ = std::string("Cannot get function '") + name + "'.";
        return kScriptError;
    }
    *result = luaH_tovalue(L_, -1);
    return kScriptOk;
}

bool VxScriptImpl::ReadGlobalString(const char* name, std::string& value)
{
    StackTop top(L_);
    PushGlobal(L_, name);
    size_t length = 0;
    const char* text = lua_isstring(L_, -1) ? lua_tolstring(L_, -1, &length) : nullptr;
    if (!text) {
        lastError_ = std::string("Cannot get string '") + name + "'.";
        value.clear();
        return false;
    }
    value.assign(text, length);
    return true;
}

bool VxScriptImpl::CheckVersion(MemObject* appVersion)
{
    std::string version;
    if (!ReadGlobalString("strVersion", version) || version.empty())
        return false;
    if (CompareVersions(version, kEngineVersion) <= 0)
        return false;
    std::string app;
    if (ReadGlobalString("strAppVersion", app))
        WriteToSink(appVersion, app);
    return true;
}

int VxScriptImpl::GetInteger(const char* name, int defaultValue)
{
    if (!name)
        return defaultValue;
    StackTop top(L_);
    PushHostField(L_, name);
    switch (lua_type(L_, -1)) {
        case LUA_TNUMBER:
            return static_cast<int>(lua_tointeger(L_, -1));
        case LUA_TBOOLEAN:
            return lua_toboolean(L_, -1) ? 1 : 0;
        default:
            return defaultValue;
    }
}

int VxScriptImpl::GetString(const char* name, MemObject* value)
{
    if (!name)
        return kScriptBadArguments;
    StackTop top(L_);
    PushHostField(L_, name);
    if (!lua_isstring(L_, -1))
        return kScriptError;
    size_t length = 0;
    const char* text = lua_tolstring(L_, -1, &length);
    WriteToSink(value, text, length);
    return kScriptOk;
}

int VxScriptImpl::SetInteger(const char* name, int value)
{
    if (!name)
        return kScriptBadArguments;
    StackTop top(L_);
    if (!PushHostTable(L_))
        return kScriptError;
    lua_pushstring(L_, name);
    lua_pushinteger(L_, value);
    lua_rawset(L_, -3);
    return kScriptOk;
}

int VxScriptImpl::SetString(const char* name, const char* value)
{
    if (!name)
        return kScriptBadArguments;
    StackTop top(L_);
    if (!PushHostTable(L_))
        return kScriptError;
    lua_pushstring(L_, name);
    lua_pushstring(L_, value);  // nil for a null value, which removes the entry
    lua_rawset(L_, -3);
    return kScriptOk;
}

// The whole address, not SetInteger's int: on 64-bit Windows objects lie above 4 GB.
void VxScriptImpl::SetHostAddress(const char* name, const void* address)
{
    StackTop top(L_);
    if (!PushHostTable(L_))
        return;
    lua_pushstring(L_, name);
    lua_pushinteger(L_, static_cast<lua_Integer>(reinterpret_cast<intptr_t>(address)));
    lua_rawset(L_, -3);
}

void VxScriptImpl::SetHostNil(const char* name)
{
    SetString(name, nullptr);
}

int VxScriptImpl::CallTextEntry(const char* name, const char* url, const char* text, size_t length, JsonValue** result)
{
    if (IsEmpty(url, 0) || IsEmpty(text, length))
        return kScriptBadArguments;
    MutexGuard lock(mutex_.get());
    return CallEntry(name, url, text, length, result);
}

int VxScriptImpl::WriteResult(MemObject* json, JsonValue* result)
{
    std::string out;
    if (!Serialize(result, out)) {
        lastError_ = "Cannot write the result as JSON text.";
        return kScriptError;
    }
    WriteToSink(json, out);
    return kScriptOk;
}

int VxScriptImpl::ParseInfo(MemObject* json, const char* url, const char* text, size_t length)
{
    JsonTree result;
    int code = CallTextEntry("Vellix_ParseInfo", url, text, length, result.out());
    if (code != kScriptOk)
        return code;
    JsonValue* name = nullptr;
    if (getValueType(result.get()) != JSON_DICTIONARY || !lookupDictionaryMember(result.get(), "name", &name) ||
        getValueType(name) != JSON_STRING)
        return kScriptWrongResult;
    return WriteResult(json, result.get());
}

int VxScriptImpl::ParseVolumes(MemObject* json, const char* url, const char* text, size_t length)
{
    JsonTree result;
    int code = CallTextEntry("Vellix_ParseVolumes", url, text, length, result.out());
    if (code != kScriptOk)
        return code;
    int type = getValueType(result.get());
    if (type == JSON_DICTIONARY && getDictionarySize(result.get()) == 0) {
        WriteToSink(json, "[]", 2);  // an empty Lua table comes back as an empty dictionary
        return kScriptOk;
    }
    if (!result.get() || type != JSON_ARRAY)
        return kScriptWrongResult;
    return WriteResult(json, result.get());
}

bool VxScriptImpl::LacksParseImages()
{
    MutexGuard lock(mutex_.get());
    StackTop top(L_);
    PushGlobal(L_, "Vellix_ParseImages");
    return !lua_isfunction(L_, -1);
}

int VxScriptImpl::ParseImages(MemObject* json, const char* url, NotifyCallback* callback)
{
    if (!callback || IsEmpty(url, 0))
        return kScriptBadArguments;
    MutexGuard lock(mutex_.get());
    {
        StackTop top(L_);
        PushGlobal(L_, "Vellix_ParseImages");
        if (!lua_isfunction(L_, -1))
            return kScriptNoParseImages;
    }
    // The callback lives only for this call; no later script code may reach it. Notify uses the
    // member alone: the host-table entry only tells scripts that an observer is there.
    struct ObserverScope {
        VxScriptImpl* self;
        ~ObserverScope()
        {
            self->observer_ = nullptr;
            self->SetHostNil("Observer");
        }
    } scope = {this};
    observer_ = callback;
    SetHostAddress("Observer", callback);

    JsonTree result;
    int code = CallEntry("Vellix_ParseImages", url, nullptr, 0, result.out());
    if (code != kScriptOk)
        return code;
    if (!result.get() || getValueType(result.get()) != JSON_ARRAY)
        return kScriptWrongResult;
    code = WriteResult(json, result.get());
    if (code != kScriptOk)
        return code;
    if (!cookies_.empty())
        callback->OnCookie(CookieText(std::string()).c_str());
    return kScriptOk;
}

void VxScriptImpl::GetLastError(MemObject* text)
{
    WriteToSink(text, lastError_);
}

bool VxScriptImpl::GetExample(MemObject* url)
{
    std::string example;
    if (!ReadGlobalString("strExample", example))
        return false;
    return WriteToSink(url, example);
}

bool VxScriptImpl::AllowFunction(const char* name)
{
    if (!name)
        return false;
    for (const std::string& allowed : allowed_)
        if (allowed == name)
            return false;
    allowed_.push_back(name);
    return true;
}

int VxScriptImpl::CallFunction(const char* name, const char* arg, const char* data, size_t length)
{
    if (!name || IsEmpty(arg, 0) || IsEmpty(data, length))
        return kScriptBadArguments;
    bool allowed = false;
    for (const std::string& entry : allowed_)
        allowed = allowed || entry == name;
    if (!allowed)
        return kScriptNotAllowed;

    MutexGuard lock(mutex_.get());
    StackTop top(L_);
    EntryCall call = {name, arg, data, length, false};
    if (ProtectedEntry(L_, call) != 0) {
        TakeError();
        return kScriptError;
    }
    if (call.missing)
        return kScriptNotAllowed;
    bool isTrue = lua_type(L_, -1) == LUA_TBOOLEAN && lua_toboolean(L_, -1);
    return isTrue ? kScriptHookTrue : kScriptHookOther;
}

std::string VxScriptImpl::CookieText(const std::string& extra) const
{
    std::string text;
    for (const auto& cookie : cookies_) {
        if (!text.empty())
            text += ';';
        text += cookie.first;
        text += '=';
        text += cookie.second;
    }
    if (!extra.empty()) {
        if (!cookies_.empty())
            text += ';';
        text += extra;
    }
    return text;
}

void VxScriptImpl::GetCookies(MemObject* text)
{
    WriteToSink(text, CookieText(std::string()));
}

void VxScriptImpl::SetCookie(const char* name, const char* value)
{
    if (!name)
        return;
    if (!value || !*value)
        cookies_.erase(name);
    else
        cookies_[name] = value;
}

bool VxScriptImpl::IsReservedKey(const std::string& name) const
{
    return reservedKeys_.count(name) != 0;
}

ObjectFactory VxScriptImpl::FindFactory(std::string name) const
{
    AsciiLower(name);
    auto found = factories_.find(name);
    return found == factories_.end() ? nullptr : found->second;
}

bool VxScriptImpl::FindCookie(const std::string& name, std::string& value) const
{
    auto found = cookies_.find(name);
    if (found == cookies_.end())
        return false;
    value = found->second;
    return true;
}

}  // namespace Vellix
