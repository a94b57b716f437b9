// The user's favorites tree with its address index. Loading, saving and editing come with the
// favorites layer; until then the store stays empty.
#pragma once

#include "Messages.h"

class FavoritesStore {
public:
    FavoritesStore() = default;
    ~FavoritesStore();
    FavoritesStore(const FavoritesStore&) = delete;
    FavoritesStore& operator=(const FavoritesStore&) = delete;

    JsonValue* root = nullptr;  // owned; null until the first load arrived
    FavoriteIndex index;
};
