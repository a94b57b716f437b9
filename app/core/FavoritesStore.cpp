// Editing, sorting, loading and saving the favorites tree. The file is "Favorites.json": a UTF-8
// byte-order mark, then the root array as JSON text.
#include "FavoritesStore.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "JsonUtil.h"
#include "MsgCenter.h"
#include "VolumeRecordSet.h"

#include <common/CodePage.h>
#include <common/FileText.h>
#include <common/Log.h>
#include <common/Scoped.h>
#include <common/StringUtil.h>

#include <Tessara.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

const char kBom[] = "\xEF\xBB\xBF";
const size_t kMaxFileSize = 64 << 20;  // far beyond any real favorites file

std::mutex g_writeLock;
std::atomic<unsigned> g_generation{0};
unsigned g_lastWritten = 0;  // under g_writeLock

bool SetStringMember(JsonValue* dict, const char* key, const std::string& text) {
    return JsonSetMember(dict, key, JsonTree(newStringValue(text.data(), static_cast<int>(text.size()))));
}

// The "c" array of a folder, null for an item or anything else.
JsonValue* FolderMembers(JsonValue* node) {
    JsonValue* members = nullptr;
    if (getValueType(node) == JSON_DICTIONARY)
        lookupDictionaryMember(node, "c", &members);
    return getValueType(members) == JSON_ARRAY ? members : nullptr;
}

std::wstring NameOf(JsonValue* node) {
    return ToWide(JsonStringMember(node, "n"), CP_UTF8);
}

// Appended first, then given its "c" array, as a folder dictionary always is; one that gets no
// array is taken out of the parent again when the tree here frees it.
JsonValue* AppendFolder(JsonValue* parent, const std::string& utf8Name) {
    JsonTree folder(newDictionaryValue());
    if (!SetStringMember(folder.get(), "n", utf8Name) || !insertArrayMember(parent, -1, folder.get()) ||
        !JsonSetMember(folder.get(), "c", JsonTree(newArrayValue())))
        return nullptr;
    return folder.release();
}

void CollectItemUrls(JsonValue* node, std::vector<std::string>& urls) {
    if (getValueType(node) != JSON_DICTIONARY)
        return;
    JsonValue* members = FolderMembers(node);
    if (!members) {
        urls.push_back(JsonStringMember(node, "u"));
        return;
    }
    unsigned count = getArraySize(members);
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(members, i, &member);
        CollectItemUrls(member, urls);
    }
}

// Members collected from the last to the first and sorted stably: equal names end up reversed.
void SortMembers(JsonValue* array) {
    std::vector<std::pair<std::wstring, JsonTree>> kept;
    for (unsigned i = getArraySize(array); i-- > 0;) {
        JsonValue* detached = nullptr;
        getArrayMember(array, i, &detached);
        valueDetachFromParent(detached);
        JsonTree member(detached);
        std::wstring name = getValueType(detached) == JSON_DICTIONARY ? NameOf(detached) : std::wstring();
        if (name.empty())
            continue;
        if (JsonValue* members = FolderMembers(detached))
            SortMembers(members);
        kept.emplace_back(std::move(name), std::move(member));
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return lstrcmpiW(a.first.c_str(), b.first.c_str()) < 0; });
    for (auto& entry : kept)
        JsonAppendMember(array, std::move(entry.second));
}

int TESSARA_CALL AppendText(const char* chunk, void* text) {
    static_cast<std::string*>(text)->append(chunk);
    return 0;
}

std::wstring FavoriteFolder() {
    AppContextRef ctx;
    return ctx ? ToWide(ctx->Database().GetConfig("FavoriteFolder"), CP_UTF8) : std::wstring();
}

enum class ReadResult { kOk, kMissing, kUnreadable };

// The file's text after its byte-order mark.
ReadResult ReadFavoritesFile(const std::wstring& path, std::string& text) {
    std::string bytes;
    DWORD error = ReadFileBytes(path, kMaxFileSize, bytes);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return ReadResult::kMissing;
    if (error != ERROR_SUCCESS) {
        Brimholt::Log << "Cannot read the favorites file: " << error << std::endl;
        return ReadResult::kUnreadable;
    }
    if (bytes.size() < 4 || bytes.compare(0, 3, kBom) != 0)
        return ReadResult::kUnreadable;
    text = bytes.substr(3);
    return ReadResult::kOk;
}

// The tree of the text when it is an array; null otherwise.
JsonValue* ParseTree(const std::string& text) {
    JsonTree tree(ParseJsonText(text));
    return getValueType(tree.get()) == JSON_ARRAY ? tree.release() : nullptr;
}

void BuildDefaultFolders(msg_favorites_loaded& msg) {
    msg.tree = newArrayValue();
    std::wstring names;
    {
        AppContextRef ctx;
        if (ctx)
            names = ctx->Translator().Text(L"Favorites", L"DefFolders");
    }
    for (const std::string& name : SplitTrimmed(ToNarrow(names, CP_UTF8), ',')) {
        if (AppendFolder(msg.tree, name))
            FavoritesStore::PostFlush();
    }
    msg.saveNeeded = 1;
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 20));
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written != chunk)
            return false;
        data += chunk;
        size -= chunk;
    }
    return true;
}

bool PostToMainFrame(VxMsg* msg) {
    AppContextRef ctx;
    if (ctx && ctx->Messages().PostTo(0, msg))
        return true;
    delete msg;
    return false;
}

}  // namespace

FavoriteEntry FavoriteEntry::FromJson(JsonValue* node) {
    FavoriteEntry entry;
    entry.name = NameOf(node);
    entry.node = node;
    return entry;
}

FavoriteLink::FavoriteLink(const std::wstring& title, const std::string& address) : url(address) {
    name = title;
}

FavoriteLink FavoriteLink::FromJsonWithUrl(JsonValue* node) {
    FavoriteLink link;
    link.name = NameOf(node);
    link.node = node;
    link.url = JsonStringMember(node, "u");
    return link;
}

FavoritesStore::~FavoritesStore() {
    index.clear();
    if (root)
        deleteValue(&root);
    if (pendingRoot_)
        deleteValue(&pendingRoot_);
}

bool FavoritesStore::AddFolder(JsonValue* parent, FavoriteEntry& entry) {
    JsonValue* folder = AppendFolder(parent ? parent : root, ToNarrow(entry.name, CP_UTF8));
    if (!folder)
        return false;
    entry.node = folder;
    PostFlush();
    return true;
}

bool FavoritesStore::AddItem(JsonValue* folderMembers, FavoriteLink& link) {
    JsonTree made(newDictionaryValue());
    JsonValue* item = made.get();
    if (!SetStringMember(item, "n", ToNarrow(link.name, CP_UTF8)) || !SetStringMember(item, "u", link.url) ||
        !JsonAppendMember(folderMembers, std::move(made)))
        return false;
    index[link.url] = item;
    link.node = item;
    PostFlush();
    return true;
}

// Another item may carry a removed item's address: the index is rebuilt from what stays, and only
// addresses that no item keeps lose their volume records.
void FavoritesStore::Remove(FavoriteEntry& entry) {
    JsonValue* node = entry.node;
    if (!node)
        return;
    std::vector<std::string> urls;
    CollectItemUrls(node, urls);
    valueDetachFromParent(node);
    JsonTree removed(node);
    entry.node = nullptr;
    index.clear();
    RebuildIndex(root, index);
    for (const std::string& url : urls) {
        if (!url.empty() && index.find(url) == index.end())
            VolumeRecordSet::DeleteStored(url);
    }
    PostFlush();
}

void FavoritesStore::Rename(FavoriteEntry& entry, const std::wstring& name) {
    entry.name = name;
    if (!entry.node)
        return;
    SetStringMember(entry.node, "n", ToNarrow(name, CP_UTF8));
    PostFlush();
}

// Sorting drops nameless members, so the index is rebuilt: none of its entries may outlive a node.
void FavoritesStore::SortByName(JsonValue* array) {
    if (getValueType(array) != JSON_ARRAY)
        return;
    SortMembers(array);
    index.clear();
    RebuildIndex(root, index);
}

JsonValue* FavoritesStore::FindItem(const char* url) {
    auto it = index.find(url ? url : "");
    return it == index.end() ? nullptr : it->second;
}

bool FavoritesStore::SetLoaded(msg_favorites_loaded& msg) {
    if (holds_ > 0) {
        if (pendingRoot_)
            deleteValue(&pendingRoot_);
        pendingRoot_ = msg.tree;
        msg.tree = nullptr;
        pendingIndex_.swap(msg.index);
        msg.index.clear();
        pendingSave_ = msg.saveNeeded != 0;
        return false;
    }
    if (root)
        deleteValue(&root);
    root = msg.tree;
    msg.tree = nullptr;
    index.swap(msg.index);
    msg.index.clear();
    return true;
}

// The node is detached first because an array takes only parentless members; the slot it leaves
// is still allocated, so putting it back cannot fail.
bool FavoritesStore::Move(JsonValue* node, JsonValue* members) {
    void* place[2] = {nullptr, nullptr};
    if (getValueType(members) != JSON_ARRAY || !valueGetParentInfo(node, place))
        return false;
    auto* parent = static_cast<JsonValue*>(place[0]);
    if (getValueType(parent) != JSON_ARRAY || parent == members)
        return false;
    int at = static_cast<int>(reinterpret_cast<intptr_t>(place[1]));
    valueDetachFromParent(node);
    if (insertArrayMember(members, -1, node)) {
        PostFlush();
        return true;
    }
    if (!insertArrayMember(parent, at, node))
        Brimholt::Log << "A favourite could not be put back after a failed move" << std::endl;
    return false;
}

void FavoritesStore::Hold() {
    ++holds_;
}

// A deferred load whose defaults need saving asks for the save that its arrival skipped.
void FavoritesStore::Release() {
    if (holds_ <= 0 || --holds_ > 0 || !pendingRoot_)
        return;
    if (root)
        deleteValue(&root);
    root = pendingRoot_;
    pendingRoot_ = nullptr;
    index.swap(pendingIndex_);
    pendingIndex_.clear();
    if (pendingSave_)
        PostFlush();
    pendingSave_ = false;
}

FavoritesHold::FavoritesHold() {
    AppContext* ctx = GetAppContext();
    store_ = ctx ? &ctx->Favorites() : nullptr;
    if (store_)
        store_->Hold();
}

FavoritesHold::~FavoritesHold() {
    if (store_)
        store_->Release();
}

void FavoritesStore::PostFlush() {
    PostToMainFrame(new msg_flush_favorites());
}

void FavoritesStore::RebuildIndex(JsonValue* array, FavoriteIndex& index) {
    unsigned count = getValueType(array) == JSON_ARRAY ? getArraySize(array) : 0;
    for (unsigned i = 0; i < count; ++i) {
        JsonValue* member = nullptr;
        getArrayMember(array, i, &member);
        if (getValueType(member) != JSON_DICTIONARY)
            continue;
        if (JsonValue* members = FolderMembers(member))
            RebuildIndex(members, index);
        else
            index[JsonStringMember(member, "u")] = member;
    }
}

std::wstring FavoritesStore::FilePath(const std::wstring& folder) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    return path + L"Favorites.json";
}

bool FavoritesStore::IsUsableFile(const std::wstring& path) {
    std::string text;
    if (ReadFavoritesFile(path, text) != ReadResult::kOk)
        return false;
    JsonTree tree(ParseTree(text));
    return tree.get() != nullptr;
}

// Only a missing file gives the defaults silently; one that exists but cannot be used is kept
// as "Favorites.json.bak" before the defaults replace it.
DWORD WINAPI FavoritesStore::LoaderThread(void*) {
    auto* msg = new msg_favorites_loaded();
    std::wstring folder = FavoriteFolder();
    if (!folder.empty()) {
        std::wstring path = FilePath(folder);
        std::string text;
        ReadResult read = ReadFavoritesFile(path, text);
        if (read == ReadResult::kOk)
            msg->tree = ParseTree(text);
        if (read != ReadResult::kMissing && !msg->tree) {
            Brimholt::Log << "The favorites file is unusable; kept as Favorites.json.bak" << std::endl;
            if (!CopyFileW(path.c_str(), (path + L".bak").c_str(), FALSE))
                Brimholt::Log << "Cannot keep the favorites file: " << GetLastError() << std::endl;
        }
    }
    if (msg->tree)
        RebuildIndex(msg->tree, msg->index);
    else
        BuildDefaultFolders(*msg);
    PostToMainFrame(msg);
    return 0;
}

FavoritesSnapshot* FavoritesStore::Serialize() const {
    if (!root)
        return nullptr;
    auto* snapshot = new FavoritesSnapshot{std::string(), ++g_generation};
    jsonSerialize(root, AppendText, &snapshot->text);
    return snapshot;
}

// The text goes to "Favorites.json.tmp" first, which then replaces the file in one step: a failed
// or interrupted save leaves the previous file whole.
DWORD WINAPI FavoritesStore::WriterThread(void* param) {
    std::unique_ptr<FavoritesSnapshot> snapshot(static_cast<FavoritesSnapshot*>(param));
    if (!snapshot || snapshot->text.empty())
        return 1;
    std::wstring folder = FavoriteFolder();
    if (folder.empty())
        return 1;
    std::lock_guard<std::mutex> guard(g_writeLock);
    if (snapshot->generation <= g_lastWritten)
        return 0;
    std::wstring path = FilePath(folder);
    std::wstring temp = path + L".tmp";
    AutoHandle file(
        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file) {
        Brimholt::Log << "Cannot create the favorites file: " << GetLastError() << std::endl;
        return 1;
    }
    bool ok = WriteAll(file.get(), kBom, 3) && WriteAll(file.get(), snapshot->text.data(), snapshot->text.size()) &&
              FlushFileBuffers(file.get());
    // Closed before the rename, which the open handle would block.
    ok = file.reset() && ok;
    if (!ok || !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Brimholt::Log << "Cannot save the favorites file: " << GetLastError() << std::endl;
        DeleteFileW(temp.c_str());
        return 1;
    }
    g_lastWritten = snapshot->generation;
    return 0;
}
