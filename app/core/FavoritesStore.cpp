// The favorites store's ownership of its tree.
#include "FavoritesStore.h"

#include <Tessara.h>

FavoritesStore::~FavoritesStore() {
    index.clear();
    if (root)
        deleteValue(&root);
}
