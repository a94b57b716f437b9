// Endpoint addresses and answers of the maker's service. Requests carry only the headers listed
// here; everything else stays as the HTTP client sets it.
#include "ServiceApi.h"

#include "JsonUtil.h"

#include <Dornet.h>
#include <Tessara.h>
#include <common/Url.h>

#include <algorithm>

const char kProgramVersion[] = "2.5.0.35";

namespace {

const int kConfigTimeoutSeconds = 120;
// Far more than any catalogue holds; a longer answer is not a site list.
const size_t kMaxProxySites = 4096;
const size_t kMaxHostLength = 253;
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

// Letters, digits, '-', '.' and bytes of UTF-8 names; nothing that could pass for markup or a path.
bool IsHostName(const std::string& name) {
    if (name.empty() || name.size() > kMaxHostLength)
        return false;
    for (unsigned char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c >= 0x80;
        if (!ok)
            return false;
    }
    return true;
}

std::string AsciiLowerCopy(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
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

std::string ProxySitesUrl() {
    return MakeApiUrl("proxy_sites.php");
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

void PrepareProxySitesRequest(Orvane::OvRequest* request, bool systemProxy, int timeoutSeconds) {
    request->SetTimeout(timeoutSeconds);
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

bool ParseProxySites(const std::string& body, std::vector<std::string>& domains) {
    domains.clear();
    JsonTree root(ParseJsonText(body));
    if (getValueType(root.get()) != 4 || getArraySize(root.get()) > kMaxProxySites)
        return false;
    for (unsigned int i = 0, n = getArraySize(root.get()); i < n; ++i) {
        JsonValue* item = nullptr;
        if (!getArrayMember(root.get(), i, &item) || getValueType(item) != 3)
            continue;
        std::string name = AsciiLowerCopy(std::string(getCString(item), static_cast<size_t>(getStringLength(item))));
        if (IsHostName(name))
            domains.push_back(name);
    }
    // Row i of the page stands for domain i: a repeated name would be two rows for one setting.
    std::sort(domains.begin(), domains.end());
    domains.erase(std::unique(domains.begin(), domains.end()), domains.end());
    return true;
}

bool ReadProxySites(const Orvane::OvResponse& response, std::vector<std::string>& domains) {
    domains.clear();
    if (response.GetState() != kStateComplete || response.GetStatusCode() != 200)
        return false;
    std::string body;
    Orvane::OvStringFetcher<char> sink(body);
    response.GetBody(sink);
    return ParseProxySites(body, domains);
}
