// Shared pieces of the tests that talk to the reference service: the one service of the test
// executable, a context with an open database in a private program folder, requests run to their
// completion, and the service's request log read as JSON.
#pragma once

#include "CoreTestSupport.h"

#include <AppContext.h>
#include <ParseContext.h>
#include <Dornet.h>
#include <ServiceServer.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The service of this test executable, started on first use; a test fails when it cannot start.
vxtest::ServiceServer& Service();

// What a finished request delivered; the response itself stays referenced until the object goes.
struct Answer {
    ~Answer();
    const Orvane::OvResponse* response = nullptr;
    bool completed = false;  // OnResponse came
    int started = -1;        // the result of Start
    int Status() const { return response ? response->GetStatusCode() : -1; }
    std::string Body() const;
    std::string Header(const char* name) const;
};

// Creates a request for url, lets setup change it, starts it and waits for its completion.
std::unique_ptr<Answer> Fetch(const std::string& url,
                              const std::function<void(Orvane::OvRequest*)>& setup = nullptr);

// A client that records one completion; the caller waits with Wait.
class WaitingClient : public Orvane::OvRequest::Client {
public:
    WaitingClient();
    ~WaitingClient();
    void OnResponse(const Orvane::OvResponse& response) override;
    bool Wait(DWORD timeoutMs = 20000);
    Answer answer;

private:
    HANDLE done_;
};

// The service's log entries for a path (a prefix when it ends in "*"), as a JSON text.
std::string ServiceLog(const std::string& path);
// How many requests for the path the service has seen.
int ServiceLogCount(const std::string& path);

// One run of the program over the current program folder: the context with the database open;
// the scripts of its manager are released and the database closed when it goes.
class ServiceRun {
public:
    ServiceRun();
    ~ServiceRun();
    AppContext& operator*() { return *context_; }
    AppContext* operator->() { return context_.get(); }
    // Loads the catalogue from the service's configuration answer.
    bool LoadCatalogue();

private:
    std::unique_ptr<AppContext> context_;
};

// A run over a fresh program folder of its own.
class ServiceContext {
public:
    AppContext& operator*() { return *run_; }
    AppContext* operator->() { return run_.operator->(); }
    std::wstring DatabaseFile() const { return folder_ + L"Vellix.dat"; }
    const std::wstring& Folder() const { return folder_.path(); }
    bool LoadCatalogue() { return run_.LoadCatalogue(); }

private:
    ScopedAppFolder folder_;
    ServiceRun run_;
};

// The page-loading step: on completion the page is parsed right there, on the request's worker.
class PageLoader : public Orvane::OvRequest::Client {
public:
    explicit PageLoader(std::shared_ptr<CParseContext> parse);
    ~PageLoader();
    void OnResponse(const Orvane::OvResponse& response) override;
    bool Load(const std::string& address);
    std::string url;
    bool parsed = false;
    DWORD worker = 0;

private:
    std::shared_ptr<CParseContext> parse_;
    HANDLE done_;
};

// The script of a host, found or downloaded as the page-loading dialog does it.
Vellix::Script* ScriptFor(AppContext& context, const std::string& host);

// The demo site's host and its catalogue key.
extern const char kDemoHost[];
std::string DemoKey();
