// The maker's service as the program uses it: the endpoint addresses, the settings of each request,
// and the reading of the configuration and script answers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Orvane {
class OvRequest;
class OvResponse;
}

extern const char kProgramVersion[];  // "2.5.0.35"

// lang: the built-in language code for the configuration and the advert, the current one for the
// recommendations; key: a catalogue key.
std::string ConfigUrl(const std::string& lang);
std::string ScriptUrl(const std::string& key);
std::string SearchUrl();
std::string StatisticsUrl();
// The catalogue's advert address when not empty, else the service's own; "%v" becomes the version.
std::string AdvertUrl(const std::string& fromCatalogue, const std::string& lang);
std::string RecommendedUrl(const std::string& lang);
std::string SiteListUrl();
// The domains that the proxy page offers: the names the catalogue lookup answers with.
std::string ProxySitesUrl();

// Settings of the configuration and script requests (before Start); with systemProxy the request
// goes through the user's Internet Explorer proxy for its scheme.
void PrepareConfigRequest(Orvane::OvRequest* request, bool systemProxy);
void PrepareScriptRequest(Orvane::OvRequest* request, bool systemProxy);
// The search form: "q" the keyword (UTF-8), "t" the kinds ("n" by name, "a" by author, "na" both
// or neither).
void PrepareProxySitesRequest(Orvane::OvRequest* request, bool systemProxy, int timeoutSeconds);
void PrepareSearchRequest(Orvane::OvRequest* request, const std::string& keyword, bool byName, bool byAuthor);

enum ConfigOutcome {
    kConfigCatalogue,    // status 200: body is the catalogue
    kConfigNoCatalogue,  // complete with status 0: success without a catalogue
    kConfigNotFound,     // status 404: failure, errorInfo holds the text to show
    kConfigFailed        // anything else
};

struct ConfigAnswer {
    ConfigOutcome outcome = kConfigFailed;
    std::string body;
    std::string errorInfo;  // the "Error-Info" header, when present
};

ConfigAnswer ReadConfigAnswer(const Orvane::OvResponse& response);

// The "Script-Info" header of a script answer, read against the body it came with.
struct ScriptInfo {
    size_t size = 0;      // bytes of the script at the start of the body
    bool adults = false;  // the site is for adults
    int version = 0;      // cache under this version; 0: load without caching
};

ScriptInfo ReadScriptInfo(const std::string& header, size_t bodyLength);

// The proxied-sites answer: true when it is complete with status 200 and its body is a JSON array.
// The domains come out lower case, sorted bytewise, each once; entries that are no host name are
// dropped.
bool ReadProxySites(const Orvane::OvResponse& response, std::vector<std::string>& domains);
bool ParseProxySites(const std::string& body, std::vector<std::string>& domains);
