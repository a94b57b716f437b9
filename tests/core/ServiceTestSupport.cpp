// The reference service for the core tests and the small clients the tests use against it.
#include "ServiceTestSupport.h"

#include <AppDatabase.h>
#include <JsonUtil.h>
#include <ScriptCatalog.h>
#include <ScriptManager.h>
#include <ServiceApi.h>
#include <Tessara.h>

#include <gtest/gtest.h>

const char kDemoHost[] = "127.0.0.1";

std::string DemoKey() {
    return CatalogueKey(kDemoHost);
}

vxtest::ServiceServer& Service() {
    static vxtest::ServiceServer* service = [] {
        auto* s = new vxtest::ServiceServer();
        std::string error;
        if (!s->Start(&error))
            ADD_FAILURE() << "reference service: " << error;
        return s;
    }();
    return *service;
}

Answer::~Answer() {
    if (response)
        response->Release();
}

std::string Answer::Body() const {
    std::string body;
    Orvane::OvStringFetcher<char> sink(body);
    if (response)
        response->GetBody(sink);
    return body;
}

std::string Answer::Header(const char* name) const {
    std::string value;
    Orvane::OvStringFetcher<char> sink(value);
    if (response)
        response->GetHeader(sink, name);
    return value;
}

WaitingClient::WaitingClient() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WaitingClient::~WaitingClient() {
    CloseHandle(done_);
}

void WaitingClient::OnResponse(const Orvane::OvResponse& response) {
    answer.response = static_cast<const Orvane::OvResponse*>(response.AddRef());
    answer.completed = true;
    SetEvent(done_);
}

bool WaitingClient::Wait(DWORD timeoutMs) {
    return WaitForSingleObject(done_, timeoutMs) == WAIT_OBJECT_0;
}

std::unique_ptr<Answer> Fetch(const std::string& url, const std::function<void(Orvane::OvRequest*)>& setup) {
    WaitingClient client;
    Orvane::OvRequest* request = Orvane::OvRequest::CreateInstance(url.c_str(), client, nullptr);
    if (setup)
        setup(request);
    int started = request->Start();
    if (started == 0) {
        EXPECT_TRUE(client.Wait()) << "no completion for " << url;
    }
    std::unique_ptr<Answer> answer(new Answer());
    answer->started = started;
    answer->completed = client.answer.completed;
    std::swap(answer->response, client.answer.response);
    return answer;
}

std::string ServiceLog(const std::string& path) {
    return Service().Control("log", {{"path", path}});
}

int ServiceLogCount(const std::string& path) {
    JsonValue* log = ParseJsonText(ServiceLog(path));
    int count = getValueType(log) == 4 ? static_cast<int>(getArraySize(log)) : -1;
    if (log)
        deleteValue(&log);
    return count;
}

ServiceRun::ServiceRun() : context_(new AppContext()) {
    Service();
    EXPECT_TRUE(context_->Database().Open());
}

ServiceRun::~ServiceRun() {
    context_->Scripts().ReleaseAll();
    context_.reset();
}

bool ServiceRun::LoadCatalogue() {
    std::unique_ptr<Answer> answer = Fetch(ConfigUrl("en"), [](Orvane::OvRequest* r) { PrepareConfigRequest(r, false); });
    if (!answer->response)
        return false;
    ConfigAnswer config = ReadConfigAnswer(*answer->response);
    return config.outcome == kConfigCatalogue &&
           context_->Catalog().Load(std::make_shared<std::string>(config.body));
}

PageLoader::PageLoader(std::shared_ptr<CParseContext> parse) : parse_(std::move(parse)) {
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

PageLoader::~PageLoader() {
    CloseHandle(done_);
}

void PageLoader::OnResponse(const Orvane::OvResponse& response) {
    std::string page;
    parsed = parse_->ReadPage(response, page) && parse_->ParseInfo(url, page);
    worker = GetCurrentThreadId();
    SetEvent(done_);
}

bool PageLoader::Load(const std::string& address) {
    url = address;
    if (parse_->StartPageRequest(url, *this, false) != 0)
        return false;
    return WaitForSingleObject(done_, 20000) == WAIT_OBJECT_0 && parsed;
}

Vellix::Script* ScriptFor(AppContext& context, const std::string& host) {
    ScriptManager& manager = context.Scripts();
    Vellix::Script* script = nullptr;
    int found = manager.FindScript(host, script);
    if (found == kScriptLoaded)
        return script;
    EXPECT_EQ(found, kScriptMustDownload) << host;
    SiteInfo site;
    EXPECT_TRUE(context.Catalog().FindSite(host, site)) << host;
    std::unique_ptr<Answer> answer =
        Fetch(ScriptUrl(site.key), [](Orvane::OvRequest* r) { PrepareScriptRequest(r, false); });
    if (!answer->response)
        return nullptr;
    ScriptFetchResult result(*answer->response);
    result.host = host;
    result.key = site.key;
    EXPECT_EQ(manager.LoadDownloaded(result, script), kScriptLoaded) << result.error;
    return script;
}
