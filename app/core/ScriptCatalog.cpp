// The site catalogue's ownership of its tree.
#include "ScriptCatalog.h"

#include <Tessara.h>

ScriptCatalog::~ScriptCatalog() {
    broadcasts = nullptr;
    if (root)
        deleteValue(&root);
}
