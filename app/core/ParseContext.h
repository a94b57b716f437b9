// One parse of one page address: the site script that serves it, the address, the fetched page and
// the comic information the script extracted. The only caller of a script's parsing entry points.
#pragma once

#include "Manga.h"

#include <Dornet.h>
#include <Quillet.h>
#include <common/Scoped.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

struct JsonValue;
class ScriptLifetimes;

namespace Vellix {

// Collects what a script hands over into a narrow string.
class StrObject : public MemObject {
public:
    char* Allocate(size_t n) override;
    std::string text;
};

// A script source over an open file; the file is closed with the object.
class FileScript : public ScriptReader {
public:
    explicit FileScript(HANDLE file);
    FileScript(const FileScript&) = delete;
    FileScript& operator=(const FileScript&) = delete;

    unsigned GetSize() override { return size_; }
    bool Read(void* buffer) override;

private:
    AutoHandle file_;
    unsigned size_ = 0;
};

}  // namespace Vellix

class CParseContext : public Vellix::Manga, public Orvane::OvRequest::Client {
public:
    CParseContext() = default;
    ~CParseContext();
    CParseContext(const CParseContext&) = delete;
    CParseContext& operator=(const CParseContext&) = delete;

    void Reset();
    // Takes a script of the script manager (Reset, shared, hooks).
    void SetSharedScript(Vellix::Script* managed, const std::shared_ptr<ScriptLifetimes>& lifetimes);
    void SetupHooks();
    bool LoadScriptFile(const std::wstring& path, bool applyProxy, std::string& error);
    bool LoadScriptMemory(const std::wstring& path);
    bool CheckVersion(std::string& version);

    void BeforeNavigate(std::string& address);
    void PrepareRequest(Orvane::OvRequest* request);
    // The page request: GET of the address with the page headers and PrepareRequest. The result
    // of Start: 0 means exactly one call of client.OnResponse follows; anything else means none
    // will, and the caller ends its step itself.
    int StartPageRequest(const std::string& address, Orvane::OvRequest::Client& client, bool systemProxy);
    // The page of a completed page request (status 200); its cookies go to the script either way.
    bool ReadPage(const Orvane::OvResponse& response, std::string& text);

    std::string GetCookies();
    std::string GetExample();
    std::string GetLastError();

    bool ParseInfo(const std::string& address, const std::string& text);
    bool ParseVolumes(JsonValue*& result);
    bool ParseImages(JsonValue*& result, const std::string& volumeUrl, Vellix::NotifyCallback* observer);
    void ReportStatistics();

    bool GetField(int index, Vellix::MemObject* sink) override;
    bool IsFinished(bool* out) override;
    void OnResponse(const Orvane::OvResponse&) override {}

    Vellix::Script* script = nullptr;
    std::string url;
    std::string page;
    bool proxy = false;
    bool shared = true;
    JsonValue* info = nullptr;  // owned

private:
    int RunEntry(const std::function<int(Vellix::MemObject*)>& entry, std::string& text);
    bool UseScript(const std::function<void(Vellix::Script*)>& use);

    std::shared_ptr<ScriptLifetimes> lifetimes_;  // of a shared script
};
