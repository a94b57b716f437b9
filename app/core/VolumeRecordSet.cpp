// Loading and merging a comic's volume records; storing is left to the callers (CUpdateVols).
#include "VolumeRecordSet.h"

#include "AppContext.h"
#include "JsonUtil.h"

#include <Tessara.h>

namespace {

std::string VolumeUrl(JsonValue* volume) {
    JsonValue* url = nullptr;
    if (getValueType(volume) == JSON_DICTIONARY)
        lookupDictionaryMember(volume, "url", &url);
    if (getValueType(url) != JSON_STRING)
        return std::string();
    return std::string(getCString(url), static_cast<size_t>(getStringLength(url)));
}

int TESSARA_CALL AppendJson(const char* chunk, void* text) {
    static_cast<std::string*>(text)->append(chunk);
    return 0;
}

}  // namespace

VolumeRecordSet::VolumeRecordSet(const std::string& comicUrl, bool load) {
    if (comicUrl.empty())
        return;
    if (load)
        Load(comicUrl);
    else
        url = comicUrl;
}

bool VolumeRecordSet::Load(const std::string& comicUrl) {
    url = comicUrl;
    AppContextRef ctx;
    if (ctx) {
        CLoadVols job(url, &records);
        ctx->Database().RunSync(&job);
    }
    return !records.empty();
}

// A comic seen for the first time marks nothing as new.
int VolumeRecordSet::MergeVolumes(JsonValue* volumes) {
    bool firstVisit = records.empty();
    unsigned count = getValueType(volumes) == JSON_ARRAY ? getArraySize(volumes) : 0;
    int added = 0;
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* volume = nullptr;
        getArrayMember(volumes, i, &volume);
        if (records.emplace(VolumeUrl(volume), firstVisit ? 0 : 1).second && !firstVisit)
            ++added;
    }
    return added;
}

std::string VolumeRecordSet::ToJson() const {
    JsonTree array(newArrayValue());
    for (const auto& record : records) {
        JsonTree dict(newDictionaryValue());
        JsonSetMember(dict.get(), "u",
                      JsonTree(newStringValue(record.first.data(), static_cast<int>(record.first.size()))));
        JsonSetMember(dict.get(), "t", JsonTree(newIntegerValue(record.second)));
        JsonAppendMember(array.get(), std::move(dict));
    }
    std::string text;
    jsonSerialize(array.get(), AppendJson, &text);
    return text;
}

void VolumeRecordSet::DeleteStored(const std::string& comicUrl) {
    AppContextRef ctx;
    if (ctx)
        ctx->Database().Post(new CDeleteVol(comicUrl));
}
