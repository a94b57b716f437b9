// The script object: one Lua state per site script, its host table, cookies and last error, and the
// mutex that serialises calls into its entry points.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <lua.hpp>

#include "Quillet.h"
#include "common/Scoped.h"

struct JsonValue;

namespace Vellix {

// "__Vx" and eight hexadecimal digits, fixed when the library is attached to the process.
const char* HostTableName();

// The version of this script engine, compared field by field with a script's "strVersion".
extern const char kEngineVersion[];

// A factory pushes one new object on the Lua stack and returns 1; it runs inside a script call.
using ObjectFactory = lua_CFunction;

class VxScriptImpl : public Script {
public:
    explicit VxScriptImpl(lua_State* L);
    ~VxScriptImpl() override;
    VxScriptImpl(const VxScriptImpl&) = delete;
    VxScriptImpl& operator=(const VxScriptImpl&) = delete;

    // Standard libraries, host table and module; false (with the last error set) when the state
    // refused. Must succeed before anything else is called.
    bool Open();
    // Loads and runs the chunk; false with Lua's message as the last error.
    bool Run(const std::string& text);

    bool CheckVersion(MemObject* appVersion) override;
    int GetInteger(const char* name, int defaultValue) override;
    int GetString(const char* name, MemObject* value) override;
    int SetInteger(const char* name, int value) override;
    int SetString(const char* name, const char* value) override;
    int ParseInfo(MemObject* json, const char* url, const char* text, size_t length) override;
    int ParseVolumes(MemObject* json, const char* url, const char* text, size_t length) override;
    bool LacksParseImages() override;
    int ParseImages(MemObject* json, const char* url, NotifyCallback* callback) override;
    void GetLastError(MemObject* text) override;
    bool GetExample(MemObject* url) override;
    bool AllowFunction(const char* name) override;
    int CallFunction(const char* name, const char* arg, const char* data, size_t length) override;
    void GetCookies(MemObject* text) override;
    void SetCookie(const char* name, const char* value) override;

    // The script object of a state made by the library, else null. The host never takes it from
    // anything a script can reach: the debug library opens the registry, upvalues and locals.
    static VxScriptImpl* FromState(lua_State* L);

    // For the host module, on the thread that runs the script.
    NotifyCallback* Observer() const { return observer_; }  // of the ParseImages call in progress
    bool IsReservedKey(const std::string& name) const;
    ObjectFactory FindFactory(std::string name) const;  // any ASCII case
    bool FindCookie(const std::string& name, std::string& value) const;
    // The cookies as one request header value, with extra appended after ";" when not empty.
    std::string CookieText(const std::string& extra) const;

private:
    int CallEntry(const char* name, const char* url, const char* text, size_t length, JsonValue** result);
    // CallEntry for the entries that parse a page text, after checking the arguments.
    int CallTextEntry(const char* name, const char* url, const char* text, size_t length, JsonValue** result);
    int WriteResult(MemObject* json, JsonValue* result);
    bool ReadGlobalString(const char* name, std::string& value);
    void TakeError();
    void SetHostAddress(const char* name, const void* address);
    void SetHostNil(const char* name);
    static void* Allocate(void* self, void* block, size_t oldSize, size_t newSize);

    AutoHandle mutex_;
    lua_State* L_;
    lua_Alloc alloc_;
    void* allocContext_;
    NotifyCallback* observer_ = nullptr;
    std::set<std::string> reservedKeys_;
    std::unordered_map<std::string, ObjectFactory> factories_;
    std::vector<std::string> allowed_;
    std::unordered_map<std::string, std::string> cookies_;
    std::string lastError_;
};

// Copies text into the sink: nothing for an empty text, a null sink or a null buffer.
bool WriteToSink(MemObject* sink, const char* text, size_t length);
inline bool WriteToSink(MemObject* sink, const std::string& text)
{
    return WriteToSink(sink, text.data(), text.size());
}

}  // namespace Vellix
