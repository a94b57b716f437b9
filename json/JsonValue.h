// Node layout shared by the tree, dictionary, parser and writer modules; never seen outside the library.
#pragma once

#include "Tessara.h"

struct DictEntry;

struct DictNode {
    int32_t colour;  // 0 red, 1 black
    DictNode* parent;
    DictNode* left;
    DictNode* right;
};

struct DictEntry : DictNode {
    const char* key;  // points into the same block, right behind the entry
    uint32_t hash;
    JsonValue* member;
};

struct DictTree {
    int32_t elementSize;
    uint32_t count;
    int32_t colour;
    DictNode* root;
    DictNode* leftmost;
    DictNode* rightmost;
};

struct JsonValue {
    int32_t type;
    JsonValue* parent;
    union {
        int32_t index;
        DictEntry* entry;
    } slot;
    union {
        struct {
            uint8_t flag;  // boolean truth or the integer flag of a number: one place for both
            union {
                int32_t i;
                double d;
            } value;
        } scalar;
        struct {
            char* text;
            int32_t length;
            int32_t capacity;
        } string;
        struct {
            int32_t elementSize;
            JsonValue** items;
            uint32_t count;
            uint32_t capacity;
        } array;
        DictTree dict;
    } u;
};

JsonValue* jsonNewValue(int type);
// A string node with its text in the same block: length bytes of text (may be null) and room for
// capacity bytes, terminated.
JsonValue* jsonNewString(const char* text, size_t length, size_t capacity);
bool jsonArrayAppend(JsonValue* array, JsonValue* member);
bool jsonIsContainer(const JsonValue* v);

// The next member of v's parent after v, or null; computed from the parent's storage, not from v's.
inline JsonValue* jsonNextSibling(JsonValue* v);

void dictInit(DictTree* tree);
uint32_t dictHash(const char* key);
DictEntry* dictFind(DictTree* tree, const char* key, uint32_t hash);
DictEntry* dictInsert(DictTree* tree, const char* key, size_t keyLength, uint32_t hash, JsonValue* member);
void dictErase(DictTree* tree, DictEntry* entry);
void dictFreeAll(DictTree* tree);
DictEntry* dictFirst(DictTree* tree);
DictEntry* dictNext(DictEntry* entry);

// Sets key to member in dict, replacing (and freeing) an existing member of that key in its place.
bool jsonDictSet(JsonValue* dict, const char* key, size_t keyLength, JsonValue* member);

inline JsonValue* jsonNextSibling(JsonValue* v) {
    JsonValue* parent = v->parent;
    if (parent->type == JSON_ARRAY) {
        uint32_t next = (uint32_t)v->slot.index + 1;
        return next < parent->u.array.count ? parent->u.array.items[next] : nullptr;
    }
    DictEntry* e = dictNext(v->slot.entry);
    return e ? e->member : nullptr;
}

// Depth-first walk without recursion: the parent links are the stack of open containers, so the walk
// needs no memory of its own and freeing a tree cannot fail halfway. Each value's next sibling is
// found before its done event, so a visitor may free a value on JSON_DONE and a container's member
// storage on JSON_LEAVE.
template <class Visit>
void jsonWalk(JsonValue* root, Visit&& visit) {
    JsonValue* cur = root;
    for (;;) {
        visit(JSON_ENTER, cur);
        if (jsonIsContainer(cur)) {
            JsonValue* first = nullptr;
            if (cur->type == JSON_ARRAY) {
                if (cur->u.array.count) first = cur->u.array.items[0];
            } else if (DictEntry* e = dictFirst(&cur->u.dict)) {
                first = e->member;
            }
            if (first) {
                cur = first;
                continue;
            }
            visit(JSON_LEAVE, cur);
        }
        for (;;) {
            if (cur == root) {
                visit(JSON_DONE, cur);
                return;
            }
            JsonValue* parent = cur->parent;
            JsonValue* next = jsonNextSibling(cur);
            visit(JSON_DONE, cur);
            if (next) {
                cur = next;
                break;
            }
            visit(JSON_LEAVE, parent);
            cur = parent;
        }
    }
}
