// Volume records of a comic: the merge rules, the stored form, and loading and deleting through the
// context's database.
#include "CoreTestSupport.h"

#include <AppDatabase.h>
#include <VolumeRecordSet.h>

#include <Tessara.h>
#include <gtest/gtest.h>

namespace {

class VolumeRecordsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ctx.Database().Open()); }
    void Store(const VolumeRecordSet& set) {
        ctx.Database().Post(new CUpdateVols(set.url, set.ToJson()));
    }

    ScopedAppFolder folder;
    AppContext ctx;
};

// A script's volume list: [{"url": ...}, ...].
struct Volumes {
    explicit Volumes(const std::string& json) {
        JsonParseSource* source = startParseMemory(json.c_str(), 0);
        list = jsonParse(source);
        finishParsing(&source);
    }
    ~Volumes() { deleteValue(&list); }
    JsonValue* list;
};

TEST_F(VolumeRecordsTest, TheFirstVisitMarksNothingNewLaterOnesMarkWhatAppeared) {
    const std::string comic = "http://site/comic/1";
    VolumeRecordSet first(comic, true);
    EXPECT_TRUE(first.records.empty());
    EXPECT_EQ(first.MergeVolumes(Volumes(R"([{"url":"v1"},{"url":"v2"},{"url":"v3"}])").list), 0);
    EXPECT_EQ(first.records, (VolumeRecords{{"v1", 0}, {"v2", 0}, {"v3", 0}}));
    first.records["v2"] = 2;  // handed to the grab dialog
    Store(first);

    VolumeRecordSet second(comic, false);
    EXPECT_EQ(second.url, comic);
    EXPECT_TRUE(second.records.empty());
    EXPECT_TRUE(second.Load(comic));
    EXPECT_EQ(second.MergeVolumes(Volumes(R"([{"url":"v1"},{"url":"v2"},{"url":"v4"},{"url":"v3"}])").list), 1);
    EXPECT_EQ(second.records, (VolumeRecords{{"v1", 0}, {"v2", 2}, {"v3", 0}, {"v4", 1}}));
    // The same list again adds nothing; a volume no longer listed keeps its record.
    EXPECT_EQ(second.MergeVolumes(Volumes(R"([{"url":"v4"},{"url":"v2"}])").list), 0);
    EXPECT_EQ(second.records.size(), 4u);
}

TEST_F(VolumeRecordsTest, MembersWithoutAnAddressCountAsTheEmptyAddress) {
    VolumeRecordSet set;
    set.records["v1"] = 0;
    EXPECT_EQ(set.MergeVolumes(Volumes(R"([{"name":"x"},3,{"url":5},{"url":"v1"}])").list), 1);
    EXPECT_EQ(set.records, (VolumeRecords{{"", 1}, {"v1", 0}}));
    EXPECT_EQ(set.MergeVolumes(Volumes(R"({"url":"v9"})").list), 0);
    EXPECT_EQ(set.MergeVolumes(nullptr), 0);
}

TEST_F(VolumeRecordsTest, TheStoredFormIsAnArrayOfDictionariesInAddressOrder) {
    VolumeRecordSet set;
    EXPECT_EQ(set.ToJson(), "[]");
    set.records = {{"b", 1}, {"B", 2}, {"a\"\xE6\x9C\xAC", 0}};
    // "t" before "u": dictionary members go in the order of their keys' hashes.
    EXPECT_EQ(set.ToJson(), "[{\"t\":2,\"u\":\"B\"},{\"t\":0,\"u\":\"a\\\"\xE6\x9C\xAC\"},{\"t\":1,\"u\":\"b\"}]");

    set.url = "http://site/comic/2";
    Store(set);
    VolumeRecordSet back(set.url, true);
    EXPECT_EQ(back.records, set.records);
}

TEST_F(VolumeRecordsTest, DeletedRecordsAreGone) {
    VolumeRecordSet set;
    set.url = "http://site/comic/3";
    set.records = {{"v1", 2}};
    Store(set);
    EXPECT_TRUE(VolumeRecordSet().Load(set.url));
    VolumeRecordSet::DeleteStored(set.url);
    EXPECT_FALSE(VolumeRecordSet().Load(set.url));

    VolumeRecordSet empty("", true);
    EXPECT_TRUE(empty.url.empty());
    EXPECT_TRUE(empty.records.empty());
}

}  // namespace
