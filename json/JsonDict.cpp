// Dictionary entry store: a red-black tree ordered by the 28-bit ELF hash of the keys, equal hashes in
// insertion order. Entries never move their members, so an entry pointer is a stable member slot.
#include "JsonValue.h"

#include <stdlib.h>
#include <string.h>

namespace {

const int32_t kRed = 0;
const int32_t kBlack = 1;

bool isBlack(const DictNode* n) { return !n || n->colour == kBlack; }

void replaceChild(DictTree* t, DictNode* parent, DictNode* old, DictNode* with) {
    if (!parent)
        t->root = with;
    else if (parent->left == old)
        parent->left = with;
    else
        parent->right = with;
}

void rotateLeft(DictTree* t, DictNode* x) {
    DictNode* y = x->right;
    x->right = y->left;
    if (y->left) y->left->parent = x;
    y->parent = x->parent;
    replaceChild(t, x->parent, x, y);
    y->left = x;
    x->parent = y;
}

void rotateRight(DictTree* t, DictNode* x) {
    DictNode* y = x->left;
    x->left = y->right;
    if (y->right) y->right->parent = x;
    y->parent = x->parent;
    replaceChild(t, x->parent, x, y);
    y->right = x;
    x->parent = y;
}

DictNode* minimum(DictNode* n) {
    while (n->left) n = n->left;
    return n;
}

DictNode* maximum(DictNode* n) {
    while (n->right) n = n->right;
    return n;
}

void insertFixup(DictTree* t, DictNode* x) {
    while (x != t->root && x->parent->colour == kRed) {
        DictNode* p = x->parent;
        DictNode* g = p->parent;  // p is red, so not the root: g exists
        if (p == g->left) {
            DictNode* uncle = g->right;
            if (!isBlack(uncle)) {
                p->colour = uncle->colour = kBlack;
                g->colour = kRed;
                x = g;
                continue;
            }
            if (x == p->right) {
                rotateLeft(t, p);
                x = p;
                p = x->parent;
            }
            p->colour = kBlack;
            g->colour = kRed;
            rotateRight(t, g);
        } else {
            DictNode* uncle = g->left;
            if (!isBlack(uncle)) {
                p->colour = uncle->colour = kBlack;
                g->colour = kRed;
                x = g;
                continue;
            }
            if (x == p->left) {
                rotateRight(t, p);
                x = p;
                p = x->parent;
            }
            p->colour = kBlack;
            g->colour = kRed;
            rotateLeft(t, g);
        }
    }
    t->root->colour = kBlack;
}

void eraseFixup(DictTree* t, DictNode* x, DictNode* xParent) {
    while (x != t->root && isBlack(x)) {
        if (x == xParent->left) {
            DictNode* w = xParent->right;
            if (w->colour == kRed) {
                w->colour = kBlack;
                xParent->colour = kRed;
                rotateLeft(t, xParent);
                w = xParent->right;
            }
            if (isBlack(w->left) && isBlack(w->right)) {
                w->colour = kRed;
                x = xParent;
                xParent = xParent->parent;
                continue;
            }
            if (isBlack(w->right)) {
                w->left->colour = kBlack;
                w->colour = kRed;
                rotateRight(t, w);
                w = xParent->right;
            }
            w->colour = xParent->colour;
            xParent->colour = kBlack;
            if (w->right) w->right->colour = kBlack;
            rotateLeft(t, xParent);
            break;
        } else {
            DictNode* w = xParent->left;
            if (w->colour == kRed) {
                w->colour = kBlack;
                xParent->colour = kRed;
                rotateRight(t, xParent);
                w = xParent->left;
            }
            if (isBlack(w->left) && isBlack(w->right)) {
                w->colour = kRed;
                x = xParent;
                xParent = xParent->parent;
                continue;
            }
            if (isBlack(w->left)) {
                w->right->colour = kBlack;
                w->colour = kRed;
                rotateLeft(t, w);
                w = xParent->left;
            }
            w->colour = xParent->colour;
            xParent->colour = kBlack;
            if (w->left) w->left->colour = kBlack;
            rotateRight(t, xParent);
            break;
        }
    }
    if (x) x->colour = kBlack;
}

}  // namespace

void dictInit(DictTree* tree) {
    tree->elementSize = sizeof(JsonValue*);
    tree->count = 0;
    tree->colour = kRed;
    tree->root = tree->leftmost = tree->rightmost = nullptr;
}

// The ELF hash over the key's bytes taken as signed chars, as every stored dictionary was ordered by.
uint32_t dictHash(const char* key) {
    uint32_t h = 0;
    for (const signed char* p = (const signed char*)key; *p; ++p) {
        h = (h << 4) + (uint32_t)(int32_t)*p;
        uint32_t g = h & 0xF0000000u;
        if (g) h ^= g >> 24;
        h &= ~g;
    }
    return h;
}

// Entries of one hash sit side by side in entry order but rotations spread them over both subtrees
// of each other, so the search finds the first entry of the hash and then scans the run.
DictEntry* dictFind(DictTree* tree, const char* key, uint32_t hash) {
    DictNode* n = tree->root;
    DictEntry* first = nullptr;
    while (n) {
        DictEntry* e = static_cast<DictEntry*>(n);
        if (e->hash >= hash) {
            if (e->hash == hash) first = e;
            n = n->left;
        } else {
            n = n->right;
        }
    }
    for (DictEntry* e = first; e && e->hash == hash; e = dictNext(e)) {
        if (strcmp(e->key, key) == 0) return e;
    }
    return nullptr;
}

DictEntry* dictInsert(DictTree* tree, const char* key, size_t keyLength, uint32_t hash, JsonValue* member) {
    DictEntry* e = (DictEntry*)malloc(sizeof(DictEntry) + keyLength + 1);
    if (!e) return nullptr;
    char* copy = (char*)(e + 1);
    memcpy(copy, key, keyLength);
    copy[keyLength] = 0;
    e->key = copy;
    e->hash = hash;
    e->member = member;
    e->left = e->right = nullptr;
    e->colour = kRed;

    DictNode* parent = nullptr;
    DictNode* n = tree->root;
    bool left = false;
    while (n) {
        parent = n;
        left = static_cast<DictEntry*>(n)->hash > hash;
        n = left ? n->left : n->right;
    }
    e->parent = parent;
    if (!parent) {
        tree->root = tree->leftmost = tree->rightmost = e;
    } else if (left) {
        parent->left = e;
        if (parent == tree->leftmost) tree->leftmost = e;
    } else {
        parent->right = e;
        if (parent == tree->rightmost) tree->rightmost = e;
    }
    tree->count++;
    insertFixup(tree, e);
    return e;
}

void dictErase(DictTree* t, DictEntry* entry) {
    DictNode* z = entry;
    DictNode* x;
    DictNode* xParent;
    int32_t removedColour = z->colour;
    if (!z->left || !z->right) {
        x = z->left ? z->left : z->right;
        xParent = z->parent;
        if (x) x->parent = xParent;
        replaceChild(t, z->parent, z, x);
        if (t->leftmost == z) t->leftmost = z->right ? minimum(x) : z->parent;
        if (t->rightmost == z) t->rightmost = z->left ? maximum(x) : z->parent;
    } else {
        // The successor entry itself moves into z's place; members stay in their entries.
        DictNode* y = minimum(z->right);
        removedColour = y->colour;
        x = y->right;
        if (y->parent == z) {
            xParent = y;
        } else {
            xParent = y->parent;
            if (x) x->parent = xParent;
            xParent->left = x;
            y->right = z->right;
            y->right->parent = y;
        }
        y->left = z->left;
        y->left->parent = y;
        y->parent = z->parent;
        replaceChild(t, z->parent, z, y);
        y->colour = z->colour;
    }
    t->count--;
    if (removedColour == kBlack) eraseFixup(t, x, xParent);
    free(entry);
}

// Frees every entry bottom-up along the parent links: no recursion and no rebalancing.
void dictFreeAll(DictTree* t) {
    DictNode* n = t->root;
    while (n) {
        if (n->left) {
            n = n->left;
        } else if (n->right) {
            n = n->right;
        } else {
            DictNode* parent = n->parent;
            if (parent) {
                if (parent->left == n)
                    parent->left = nullptr;
                else
                    parent->right = nullptr;
            }
            free(static_cast<DictEntry*>(n));
            n = parent;
        }
    }
    t->root = t->leftmost = t->rightmost = nullptr;
    t->count = 0;
}

DictEntry* dictFirst(DictTree* tree) { return static_cast<DictEntry*>(tree->leftmost); }

DictEntry* dictNext(DictEntry* entry) {
    DictNode* n = entry;
    if (n->right) return static_cast<DictEntry*>(minimum(n->right));
    DictNode* p = n->parent;
    while (p && n == p->right) {
        n = p;
        p = p->parent;
    }
    return static_cast<DictEntry*>(p);
}
