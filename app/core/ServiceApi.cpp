// Endpoint addresses and answers of the maker's service. Requests carry only the headers listed
// here; everything else stays as the HTTP client sets it.
#include "ServiceApi.h"

#include "JsonUtil.h"

#include <Dornet.h>
#include <Tessara.h>
#include <common/Url.h>

const char kProgramVersion[] = "2.5.0.35";

namespace {

const int kConfigTimeoutSeconds = 120;
using Orvane::kStateComplete;

void ReplaceAll(std::string& text, const std::string& pattern, const std::string& replacement) {
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + replacement.size()))
        text.replace(at, pattern.size(), replacement);
}

void UseSystemProxyFor(Orvane::OvRequest* request, const std::string& url) {
    std::string proxy = GetIEProxyForUrl(url.c_str());
    if (!proxy.empty())
        request->SetProxy(proxy.c_str());
}

}  // namespace

std::string ConfigUrl(const std::string& lang) {
    return MakeApiUrl(("config.php?lang=" + lang).c_str());
}

std::string ScriptUrl(const std::string& key) {
    return MakeApiUrl(("get_script.php?key=" + key).c_str());
}

std::string SearchUrl() {
    return MakeApiUrl("search.php");
}

std::string StatisticsUrl() {
    return MakeApiUrl("commit_stat.php");
}

std::string AdvertUrl(const std::string& fromCatalogue, const std::string& lang) {
    std::string url =
        fromCatalogue.empty() ? MakeApiUrl(("client_ad.php?lang=" + lang + "&v=%v").c_str()) : fromCatalogue;
    ReplaceAll(url, "%v", kProgramVersion);
    return url;
}

std::string RecommendedUrl(const std::string& lang) {
    return std::string(ServiceRoot()) + "/recommended.html?lang=" + lang;
}

std::string SiteListUrl() {
    return std::string(ServiceRoot()) + "/site_list.html";
}

void PrepareConfigRequest(Orvane::OvRequest* request, bool systemProxy) {
    request->SetTimeout(kConfigTimeoutSeconds);
    request->SetHeader("Vellix-Version", kProgramVersion);
    if (systemProxy)
        UseSystemProxyFor(request, MakeApiUrl(nullptr));
}

void PrepareScriptRequest(Orvane::OvRequest* request, bool systemProxy) {
    if (systemProxy)
        UseSystemProxyFor(request, MakeApiUrl(nullptr));
}

void PrepareSearchRequest(Orvane::OvRequest* request, const std::string& keyword, bool byName, bool byAuthor) {
    request->SetFormField("q", keyword.c_str());
    const char* kind = byName == byAuthor ? "na" : byName ? "n" : "a";
    request->SetFormField("t", kind);
}

ConfigAnswer ReadConfigAnswer(const Orvane::OvResponse& response) {
    ConfigAnswer answer;
    if (response.GetState() != kStateComplete)
        return answer;
    Orvane::OvStringFetcher<char> errorInfo(answer.errorInfo);
    switch (response.GetStatusCode()) {
        case 200: {
            Orvane::OvStringFetcher<char> body(answer.body);
            response.GetBody(body);
            response.GetHeader(errorInfo, "Error-Info");
            answer.outcome = kConfigCatalogue;
            break;
        }
        case 0:
            answer.outcome = kConfigNoCatalogue;
            break;
        case 404:
            response.GetHeader(errorInfo, "Error-Info");
            answer.outcome = kConfigNotFound;
            break;
        default:
            break;
    }
    return answer;
}

ScriptInfo ReadScriptInfo(const std::string& header, size_t bodyLength) {
    ScriptInfo info;
    info.size = bodyLength;
    JsonTree root(ParseJsonText(header));
    int size = -1;
    // A length that does not fit the body would read past it: the whole body is used instead.
    if (JsonGetNumberMember(root.get(), "s", size) && size >= 0 && static_cast<size_t>(size) <= bodyLength)
        info.size = static_cast<size_t>(size);
    JsonGetBooleanMember(root.get(), "a", info.adults);
    int version = 0;
    if (JsonGetNumberMember(root.get(), "v", version) && version > 0)
        info.version = version;
    return info;
}
