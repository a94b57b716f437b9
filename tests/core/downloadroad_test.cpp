// The whole road without a window: a demo comic address through the catalogue, the service's
// script and the parse context, its volumes and their image lists, tasks handed to the built-in
// downloader as the grab does it, downloaded by the five slots into the folder tree, and packed.
// Files, rows and archives are checked by other readers (the site's bytes, Python).
#include "DbTestSupport.h"
#include "DownloaderTestSupport.h"

#include <JsonUtil.h>
#include <LinuxTool.h>
#include <ParseContext.h>
#include <ScriptManager.h>
#include <Tessara.h>
#include <ZipWorker.h>
#include <common/CodePage.h>
#include <common/Path.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

// What the grab dialog keeps of a volume's image listing.
class Grab : public Vellix::NotifyCallback {
public:
    void OnCount(int) override {}
    void OnURL(const char*) override {}
    void OnCookie(const char* text) override { cookie = text; }
    void OnHeaders(const char* text) override { headers = text; }
    std::string cookie;
    std::string headers;
};

std::string Member(JsonValue* dict, const char* name) {
    std::string value;
    JsonGetStringMember(dict, name, value);
    return value;
}

struct Image {
    std::string url;
    std::string ref;
    std::wstring file;  // relative to the download folder
};

TEST(DownloadRoad, FromAComicAddressToZipArchives) {
    Service().Control("reset");
    ServiceContext context;
    ASSERT_TRUE(context.LoadCatalogue());
    DownloadWindows windows(context->Messages());
    const std::wstring downloads = context.Folder() + L"Download\\";
    ASSERT_EQ(ToWide(context->Database().GetConfig("DownloadFolder"), CP_UTF8), downloads);

    // The page-loading dialog and the comic details view.
    auto comic = std::make_shared<CParseContext>();
    Vellix::Script* script = ScriptFor(*context, kDemoHost);
    ASSERT_NE(script, nullptr);
    comic->SetSharedScript(script, context->Scripts().Lifetimes());
    PageLoader loader(comic);
    ASSERT_TRUE(loader.Load(Service().SiteUrl("/comic/harbor.html"))) << comic->GetLastError();
    JsonValue* volumes = nullptr;
    ASSERT_TRUE(comic->ParseVolumes(volumes));
    ASSERT_EQ(getArraySize(volumes), 3u);

    // The grab: each volume's image list, then the tasks through the downloader interface.
    CDownloaderImpl builtIn;
    windows.Attach(&builtIn);
    Vellix::Downloader& downloader = builtIn;
    std::vector<std::vector<Image>> expected;
    const wchar_t* folders[] = {L"Harbor Lights_Volume 1\\", L"Harbor Lights_Volume 2\\",
                                L"Harbor Lights_Volume 3_ The Storm\\"};
    for (unsigned v = 0; v < 3; ++v) {
        JsonValue* volume = nullptr;
        ASSERT_TRUE(JsonGetArrayMember(volumes, v, volume));
        const std::string title = Member(volume, "title");
        const std::string address = Member(volume, "url");
        Grab grab;
        JsonValue* images = nullptr;
        ASSERT_TRUE(comic->ParseImages(images, address, &grab)) << comic->GetLastError();
        EXPECT_NE(grab.cookie.find("vx_session="), std::string::npos);
        Vellix::DownloadTask* task =
            downloader.CreateTask(comic.get(), ToWide(title, CP_UTF8).c_str(), address.c_str());
        ASSERT_NE(task, nullptr);
        task->SetCookie(grab.cookie.c_str());
        if (!grab.headers.empty())
            task->SetHeaders(grab.headers.c_str());
        expected.emplace_back();
        for (unsigned i = 0; i < getArraySize(images); ++i) {
            JsonValue* image = nullptr;
            ASSERT_TRUE(JsonGetArrayMember(images, i, image));
            Image record{Member(image, "url"), Member(image, "ref"), L""};
            task->AddImage(record.url.c_str(), record.ref.c_str());
            std::string ext = record.url.substr(record.url.rfind('.'));
            wchar_t number[8];
            swprintf(number, 8, L"%04u", i + 1);
            record.file = std::wstring(folders[v]) + number + ToWide(ext, CP_UTF8);
            expected.back().push_back(record);
        }
        task->Finish();
        deleteValue(&images);
    }
    deleteValue(&volumes);
    downloader.Commit();
    const std::string cookie = builtIn.Tasks().front().cookie;
    comic.reset();  // the comic may go once Commit returned
    ASSERT_TRUE(windows.WaitFinished(builtIn, 60000));
    PumpPending();
    EXPECT_EQ(windows.events.back(), "notify 1");

    // Every file as the site sends it, nothing else in the tree.
    std::vector<std::wstring> files;
    for (const auto& volume : expected) {
        for (const Image& image : volume) {
            files.push_back(image.file);
            EXPECT_EQ(ReadBytes(downloads + image.file), DemoImage(image.url, cookie)) << image.url;
        }
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(FilesUnder(downloads), files);

    // The rows.
    const std::wstring db = context.DatabaseFile();
    const std::string dl = ToNarrow(downloads, CP_UTF8);
    std::vector<int> rowids;
    for (const TaskRecord& task : builtIn.Tasks())
        rowids.push_back(task.rowid);
    ASSERT_EQ(rowids.size(), 3u);
    const char* names[] = {"Harbor Lights Volume 1", "Harbor Lights Volume 2", "Harbor Lights Volume 3: The Storm"};
    for (unsigned v = 0; v < 3; ++v) {
        std::string path = dl + ToNarrow(folders[v], CP_UTF8);
        std::string escaped;
        for (char c : path)
            escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        EXPECT_EQ(Query(db, "SELECT url, Name, Cookie, Path, Headers, Proxy, Status FROM Task2 WHERE rowid=?",
                        {std::to_string(rowids[v])}),
                  "[[\"" + expected[v][0].ref + "\", \"" + names[v] + "\", \"" + cookie + "\", \"" + escaped +
                      "\", \"\", 0, 2]]");
        std::string rows;
        for (const Image& image : expected[v]) {
            std::string file = ToNarrow(image.file, CP_UTF8);
            std::string stem = file.substr(file.rfind('\\') + 1);
            size_t dot = stem.rfind('.');
            rows += std::string(rows.empty() ? "" : ", ") + "[\"" + image.url + "\", \"" + image.ref + "\", \"" +
                    stem.substr(0, dot) + "\", \"" + stem.substr(dot) + "\", 2]";
        }
        EXPECT_EQ(Query(db, "SELECT url, ref, target, ext, status FROM Image2 WHERE parent=? ORDER BY rowid",
                        {std::to_string(rowids[v])}),
                  "[" + rows + "]");
    }

    // Packing, as automatic packing does it: one archive per task, named after it.
    for (unsigned v = 0; v < 3; ++v) {
        std::atomic<bool> done{false};
        auto* worker = new CZipWorker(rowids[v], windows.view.id);
        std::thread packer([&] {
            ZipWorkerThread(worker);
            done = true;
        });
        bool packed = PumpUntil([&] { return done.load(); }, 30000);
        packer.join();
        ASSERT_TRUE(packed);
        const size_t count = expected[v].size();
        EXPECT_EQ(windows.events.back(),
                  "zip " + std::to_string(rowids[v]) + " " + std::to_string(count) + "/" + std::to_string(count));
        std::wstring name = ToWide(names[v], CP_UTF8);
        SanitizeFileName(name);
        JsonValue* zip = ParseJsonText(CoreTool({"zip", vxtest::UnixPath(downloads + name + L".zip")}));
        ASSERT_NE(zip, nullptr);
        JsonValue* bad = nullptr;
        lookupDictionaryMember(zip, "bad", &bad);
        EXPECT_EQ(getValueType(bad), JSON_NULL);
        JsonValue* entries = nullptr;
        lookupDictionaryMember(zip, "entries", &entries);
        ASSERT_EQ(getArraySize(entries), expected[v].size());
        for (unsigned i = 0; i < expected[v].size(); ++i) {
            JsonValue* entry = nullptr;
            ASSERT_TRUE(JsonGetArrayMember(entries, i, entry));
            std::string file = ToNarrow(expected[v][i].file, CP_UTF8);
            EXPECT_EQ(Member(entry, "name"), file.substr(file.rfind('\\') + 1));
            std::string bytes = ReadBytes(downloads + expected[v][i].file);
            JsonValue* size = nullptr;
            JsonValue* crc = nullptr;
            lookupDictionaryMember(entry, "size", &size);
            lookupDictionaryMember(entry, "crc", &crc);
            EXPECT_EQ(toNumber(size), static_cast<double>(bytes.size()));
            uLong sum = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
            EXPECT_EQ(toNumber(crc), static_cast<double>(sum));
        }
        deleteValue(&zip);
    }
    windows.Attach(nullptr);
}

}  // namespace
