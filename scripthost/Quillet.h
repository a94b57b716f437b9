// Public interface of the Quillet script host: a loaded site script and the small objects through
// which text and notifications cross between the program and the script host.
#pragma once

#include <cstddef>

namespace Vellix {

// A caller-owned output sink: the callee asks once for exactly the bytes it returns (never for 0)
// and copies them in without a terminator. A null buffer means nothing is copied.
class MemObject {
public:
    virtual char* Allocate(size_t n) = 0;

protected:
    ~MemObject() = default;
};

// A script source: its byte count, then all of its bytes into a buffer of that size.
class ScriptReader {
public:
    virtual unsigned GetSize() = 0;
    virtual bool Read(void* buffer) = 0;

protected:
    ~ScriptReader() = default;
};

// The program's observer while a script lists the images of a volume; called on the thread that
// called ParseImages.
class NotifyCallback {
public:
    virtual void OnCount(int count) = 0;
    virtual void OnURL(const char* url) = 0;
    virtual void OnCookie(const char* cookie) {}
    virtual void OnHeaders(const char* headers) {}
    virtual void OnSave(const char* data, size_t length) {}
    virtual void OnNavigate(const char* url) {}

protected:
    ~NotifyCallback() = default;
};

// Result codes of ParseInfo, ParseVolumes, ParseImages and CallFunction.
enum ScriptResult {
    kScriptOk = 0,
    kScriptError = 1,
    kScriptBadArguments = 2,
    kScriptWrongResult = 3,
    kScriptNoParseImages = 4,
    kScriptNotAllowed = 6,
    kScriptHookTrue = 7,
    kScriptHookOther = 8
};

// One loaded site script. Made by VxLoadScript or VxDevLoadScript, freed only by VxReleaseScript.
class Script {
public:
    virtual bool CheckVersion(MemObject* appVersion) = 0;
    virtual int GetInteger(const char* name, int defaultValue) = 0;
    virtual int GetString(const char* name, MemObject* value) = 0;
    virtual int SetInteger(const char* name, int value) = 0;
    virtual int SetString(const char* name, const char* value) = 0;
    virtual int ParseInfo(MemObject* json, const char* url, const char* text, size_t length) = 0;
    virtual int ParseVolumes(MemObject* json, const char* url, const char* text, size_t length) = 0;
    virtual bool LacksParseImages() = 0;
    virtual int ParseImages(MemObject* json, const char* url, NotifyCallback* callback) = 0;
    virtual void GetLastError(MemObject* text) = 0;
    virtual bool GetExample(MemObject* url) = 0;
    virtual bool AllowFunction(const char* name) = 0;
    virtual int CallFunction(const char* name, const char* arg, const char* data, size_t length) = 0;
    virtual void GetCookies(MemObject* text) = 0;
    virtual void SetCookie(const char* name, const char* value) = 0;

protected:
    virtual ~Script() = default;
};

}  // namespace Vellix

extern "C" {
Vellix::Script* __stdcall VxLoadScript(const char* data, size_t size);
Vellix::Script* __stdcall VxDevLoadScript(Vellix::ScriptReader* source, Vellix::MemObject* error);
bool __stdcall VxReleaseScript(Vellix::Script** script);
void __stdcall VxFinalize();
}
