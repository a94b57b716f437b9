// Shared pieces of the script host tests: sinks, sources, a recording observer, fixture loading and
// the probe script that runs Lua code handed to it.
#pragma once

#include <windows.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "Quillet.h"

namespace qtest {

using Vellix::kScriptBadArguments;
using Vellix::kScriptError;
using Vellix::kScriptHookOther;
using Vellix::kScriptHookTrue;
using Vellix::kScriptNoParseImages;
using Vellix::kScriptNotAllowed;
using Vellix::kScriptOk;
using Vellix::kScriptWrongResult;

class StrSink : public Vellix::MemObject {
public:
    char* Allocate(size_t n) override {
        ++calls;
        text.assign(n, '\0');
        return &text[0];
    }
    std::string text;
    int calls = 0;
};

// Hands out no buffer.
class NullSink : public Vellix::MemObject {
public:
    char* Allocate(size_t) override {
        ++calls;
        return nullptr;
    }
    int calls = 0;
};

class StringReader : public Vellix::ScriptReader {
public:
    explicit StringReader(std::string text, bool readOk = true) : text_(std::move(text)), readOk_(readOk) {}
    unsigned GetSize() override {
        ++sizeCalls;
        return static_cast<unsigned>(text_.size());
    }
    bool Read(void* buffer) override {
        ++readCalls;
        if (!text_.empty())
            memcpy(buffer, text_.data(), text_.size());
        return readOk_;
    }
    int sizeCalls = 0;
    int readCalls = 0;

private:
    std::string text_;
    bool readOk_;
};

// Every notification as one line "name:value", in order.
class Recorder : public Vellix::NotifyCallback {
public:
    void OnCount(int count) override { Add("count:" + std::to_string(count)); }
    void OnURL(const char* url) override { Add(std::string("URL:") + url); }
    void OnCookie(const char* cookie) override { Add(std::string("cookie:") + cookie); }
    void OnHeaders(const char* headers) override { Add(std::string("headers:") + headers); }
    void OnSave(const char* data, size_t length) override { Add("save:" + std::string(data, length)); }
    void OnNavigate(const char* url) override { Add(std::string("navigate:") + url); }

    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        out.swap(events_);
        return out;
    }

private:
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

// Releases through the library, as the program must.
class ScriptHandle {
public:
    explicit ScriptHandle(Vellix::Script* script = nullptr) : script_(script) {}
    ~ScriptHandle() { VxReleaseScript(&script_); }
    ScriptHandle(const ScriptHandle&) = delete;
    ScriptHandle& operator=(const ScriptHandle&) = delete;
    Vellix::Script* get() const { return script_; }
    Vellix::Script* operator->() const { return script_; }
    explicit operator bool() const { return script_ != nullptr; }

private:
    Vellix::Script* script_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::string FixturePath(const std::string& name) {
    return std::string(QUILLET_FIXTURES) + "/" + name;
}

// The enciphered copies are made from the fixtures at build time by the enciphering tool.
inline std::string EncipheredPath(const std::string& name) {
    return std::string(QUILLET_ENCIPHERED) + "/" + name + ".enc";
}

inline Vellix::Script* LoadDelivered(const std::string& name) {
    std::string block = ReadFile(EncipheredPath(name));
    return block.empty() ? nullptr : VxLoadScript(block.data(), block.size());
}

inline Vellix::Script* LoadPlain(const std::string& text, std::string* error = nullptr) {
    StringReader reader(text);
    StrSink sink;
    Vellix::Script* script = VxDevLoadScript(&reader, &sink);
    if (error)
        *error = sink.text;
    return script;
}

inline std::string LastError(Vellix::Script* script) {
    StrSink sink;
    script->GetLastError(&sink);
    return sink.text;
}

// Runs code in the probe script; the answer is the JSON text of { type(result), result }, or
// "code N: last error" when the call did not succeed.
inline std::string Probe(Vellix::Script* script, const std::string& code) {
    StrSink sink;
    int result = script->ParseVolumes(&sink, "http://probe.test/", code.data(), code.size());
    if (result != kScriptOk)
        return "code " + std::to_string(result) + ": " + LastError(script);
    return sink.text;
}

}  // namespace qtest
