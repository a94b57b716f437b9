// The user's favorites: a tree of folders and comics with an index from comic address to item,
// loaded from "Favorites.json" on a loader thread and saved on a writer thread.
#pragma once

#include "Messages.h"

#include <windows.h>

#include <string>

struct JsonValue;

// A favorites node as the dialogs and the store pass it; node is borrowed (null: not stored yet).
struct FavoriteEntry {
    static FavoriteEntry FromJson(JsonValue* node);

    std::wstring name;
    JsonValue* node = nullptr;
};

struct FavoriteLink : FavoriteEntry {
    FavoriteLink() = default;
    FavoriteLink(const std::wstring& title, const std::string& address);
    static FavoriteLink FromJsonWithUrl(JsonValue* node);

    std::string url;
};

// The tree as text, made on the user-interface thread so the writer never reads the live tree.
struct FavoritesSnapshot {
    std::string text;
    unsigned generation;  // later snapshots are never overwritten by earlier ones
};

class FavoritesStore {
public:
    FavoritesStore() = default;
    ~FavoritesStore();
    FavoritesStore(const FavoritesStore&) = delete;
    FavoritesStore& operator=(const FavoritesStore&) = delete;

    // Changes, on the user-interface thread only; each one ends with PostFlush.
    bool AddFolder(JsonValue* parent, FavoriteEntry& entry);
    bool AddItem(JsonValue* folderMembers, FavoriteLink& link);
    void Remove(FavoriteEntry& entry);
    void Rename(FavoriteEntry& entry, const std::wstring& name);
    void SortByName(JsonValue* array);
    JsonValue* FindItem(const char* url);
    // False when a hold defers the new tree: it replaces the live one when the last hold ends.
    bool SetLoaded(msg_favorites_loaded& msg);
    // To the end of the other array; a node the array refuses stays where it was. False then.
    bool Move(JsonValue* node, JsonValue* members);

    // Windows that keep nodes of the tree (the favourites dialogs) hold the store while they are
    // open, so that a reload cannot free what they point to.
    void Hold();
    void Release();

    // Tells the main frame (observer 0) to save later; any thread.
    static void PostFlush();

    // Loads the file (or builds the default folders) and posts "favorites_loaded" to observer 0.
    static DWORD WINAPI LoaderThread(void* unused);

    // Null while nothing is loaded: there is nothing to save then.
    FavoritesSnapshot* Serialize() const;
    // Takes a snapshot from Serialize; 0 when written (or a newer one already was), 1 otherwise.
    static DWORD WINAPI WriterThread(void* snapshot);

    static std::wstring FilePath(const std::wstring& folder);
    // Whether the file exists and holds favourites the loader can use.
    static bool IsUsableFile(const std::wstring& path);
    static void RebuildIndex(JsonValue* array, FavoriteIndex& index);

    JsonValue* root = nullptr;  // owned; null until the first load arrived
    FavoriteIndex index;

private:
    int holds_ = 0;
    JsonValue* pendingRoot_ = nullptr;  // owned; a load that arrived during a hold
    FavoriteIndex pendingIndex_;
    bool pendingSave_ = false;
};

// Holds the context's store for the object's lifetime.
class FavoritesHold {
public:
    FavoritesHold();
    ~FavoritesHold();
    FavoritesHold(const FavoritesHold&) = delete;
    FavoritesHold& operator=(const FavoritesHold&) = delete;

private:
    FavoritesStore* store_;
};
