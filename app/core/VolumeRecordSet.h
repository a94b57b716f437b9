// The volumes met for one comic and what became of each (0 known, 1 new, 2 downloaded), stored as
// JSON text in FavVolumes2.
#pragma once

#include "DbJobs.h"

#include <string>

struct JsonValue;

class VolumeRecordSet {
public:
    VolumeRecordSet() = default;
    VolumeRecordSet(const std::string& comicUrl, bool load);

    bool Load(const std::string& comicUrl);
    int MergeVolumes(JsonValue* volumes);
    std::string ToJson() const;
    static void DeleteStored(const std::string& comicUrl);

    std::string url;
    VolumeRecords records;
};
