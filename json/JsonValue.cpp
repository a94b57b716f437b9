// The value tree: creation, scalar access, arrays, dictionaries by key, detaching, traversal and freeing.
#include "JsonValue.h"

#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t kArrayStep = 16;
const uint32_t kMaxMembers = 0x3FFFFFF0;  // the pointer buffer's size still fits 32 bits
const size_t kMaxText = 0x7FFFFFF0;
const char kEmptyText[] = "";

bool isType(const JsonValue* v, int type) { return v && v->type == type; }

// A string's first text lives in the node's own block; only a longer text assigned later has a
// buffer of its own.
bool hasOwnTextBuffer(const JsonValue* v) { return v->u.string.text != (const char*)(v + 1); }

bool getAs(JsonValue* v, int type, JsonValue** out) {
    bool ok = isType(v, type);
    if (out) *out = ok ? v : nullptr;
    return ok;
}

// Inserting a container below itself would make the tree a cycle that traversal and freeing never leave.
// Only a container with members can be an ancestor of another value.
bool isAncestorOrSelf(const JsonValue* candidate, const JsonValue* v) {
    if (candidate == v) return true;
    bool hasMembers = (candidate->type == JSON_ARRAY && candidate->u.array.count) ||
                      (candidate->type == JSON_DICTIONARY && candidate->u.dict.count);
    if (!hasMembers) return false;
    for (; v; v = v->parent) {
        if (v == candidate) return true;
    }
    return false;
}

bool arrayInsertAt(JsonValue* a, uint32_t pos, JsonValue* member) {
    uint32_t count = a->u.array.count;
    if (count == a->u.array.capacity) {
        uint32_t capacity = count + kArrayStep;
        if (capacity > kMaxMembers) return false;
        JsonValue** items = (JsonValue**)realloc(a->u.array.items, capacity * sizeof(JsonValue*));
        if (!items) return false;
        a->u.array.items = items;
        a->u.array.capacity = capacity;
    }
    JsonValue** items = a->u.array.items;
    for (uint32_t i = pos; i < count; ++i) items[i]->slot.index++;
    memmove(items + pos + 1, items + pos, (count - pos) * sizeof(JsonValue*));
    items[pos] = member;
    a->u.array.count = count + 1;
    member->parent = a;
    member->slot.index = (int32_t)pos;
    return true;
}

void freeVisit(int event, JsonValue* v) {
    switch (event) {
    case JSON_ENTER:
        if (v->type == JSON_STRING && hasOwnTextBuffer(v)) free(v->u.string.text);
        break;
    case JSON_LEAVE:
        if (v->type == JSON_ARRAY)
            free(v->u.array.items);
        else
            dictFreeAll(&v->u.dict);
        break;
    default:
        free(v);
        break;
    }
}

}  // namespace

JsonValue* jsonNewValue(int type) {
    JsonValue* v = (JsonValue*)calloc(1, sizeof(JsonValue));
    if (!v) return nullptr;
    v->type = type;
    if (type == JSON_ARRAY) {
        v->u.array.elementSize = sizeof(JsonValue*);
        v->u.array.items = (JsonValue**)malloc(kArrayStep * sizeof(JsonValue*));
        if (!v->u.array.items) {
            free(v);
            return nullptr;
        }
        v->u.array.capacity = kArrayStep;
    } else if (type == JSON_DICTIONARY) {
        dictInit(&v->u.dict);
    }
    return v;
}

JsonValue* jsonNewString(const char* text, size_t length, size_t capacity) {
    if (capacity > kMaxText) return nullptr;
    JsonValue* v = (JsonValue*)malloc(sizeof(JsonValue) + capacity + 1);
    if (!v) return nullptr;
    memset(v, 0, sizeof(JsonValue));
    v->type = JSON_STRING;
    char* inlineText = (char*)(v + 1);
    if (length) memcpy(inlineText, text, length);
    inlineText[length] = 0;
    v->u.string.text = inlineText;
    v->u.string.length = (int32_t)length;
    v->u.string.capacity = (int32_t)capacity;
    return v;
}

bool jsonIsContainer(const JsonValue* v) { return v->type == JSON_ARRAY || v->type == JSON_DICTIONARY; }

bool jsonArrayAppend(JsonValue* array, JsonValue* member) {
    return arrayInsertAt(array, array->u.array.count, member);
}

bool jsonDictSet(JsonValue* dict, const char* key, size_t keyLength, JsonValue* member) {
    uint32_t hash = dictHash(key);
    DictEntry* e = dictFind(&dict->u.dict, key, hash);
    if (e) {
        JsonValue* old = e->member;
        old->parent = nullptr;
        old->slot.entry = nullptr;
        jsonWalk(old, freeVisit);
        e->member = member;
    } else {
        e = dictInsert(&dict->u.dict, key, keyLength, hash, member);
        if (!e) return false;
    }
    member->parent = dict;
    member->slot.entry = e;
    return true;
}

extern "C" {

JsonValue* newNullValue(void) { return jsonNewValue(JSON_NULL); }

JsonValue* newBooleanValue(int b) {
    JsonValue* v = jsonNewValue(JSON_BOOLEAN);
    if (v) v->u.scalar.flag = (uint8_t)b;
    return v;
}

JsonValue* newIntegerValue(int i) {
    JsonValue* v = jsonNewValue(JSON_NUMBER);
    if (v) {
        v->u.scalar.flag = 1;
        v->u.scalar.value.i = i;
    }
    return v;
}

JsonValue* newNumberValue(double d) {
    JsonValue* v = jsonNewValue(JSON_NUMBER);
    if (v) v->u.scalar.value.d = d;
    return v;
}

JsonValue* newStringValue(const char* text, int len) {
    if (len < 0) return nullptr;
    size_t length = text ? (len ? (size_t)len : strlen(text)) : 0;
    return jsonNewString(text, length, text ? length : (size_t)len);
}

JsonValue* newArrayValue(void) { return jsonNewValue(JSON_ARRAY); }

JsonValue* newDictionaryValue(void) { return jsonNewValue(JSON_DICTIONARY); }

int getValueType(JsonValue* v) { return v ? v->type : JSON_NULL; }

bool getAsBoolean(JsonValue* v, JsonValue** out) { return getAs(v, JSON_BOOLEAN, out); }
bool getAsNumber(JsonValue* v, JsonValue** out) { return getAs(v, JSON_NUMBER, out); }
bool getAsString(JsonValue* v, JsonValue** out) { return getAs(v, JSON_STRING, out); }
bool getAsArray(JsonValue* v, JsonValue** out) { return getAs(v, JSON_ARRAY, out); }
bool getAsDictionary(JsonValue* v, JsonValue** out) { return getAs(v, JSON_DICTIONARY, out); }

// One flag byte serves both types, so one function answers both questions.
bool toBoolean(JsonValue* v) {
    return (isType(v, JSON_BOOLEAN) || isType(v, JSON_NUMBER)) && v->u.scalar.flag != 0;
}


int toInteger(JsonValue* v) {
    if (!isType(v, JSON_NUMBER)) return 0;
    if (v->u.scalar.flag) return v->u.scalar.value.i;
    double d = v->u.scalar.value.d;
    if (d > -2147483649.0 && d < 2147483648.0) return (int)d;
    return INT32_MIN;  // also NaN, which fails both comparisons
}

double toNumber(JsonValue* v) {
    if (!isType(v, JSON_NUMBER)) return 0.0;
    return v->u.scalar.flag ? (double)v->u.scalar.value.i : v->u.scalar.value.d;
}

const char* getCString(JsonValue* v) { return isType(v, JSON_STRING) ? v->u.string.text : kEmptyText; }

int getStringLength(JsonValue* v) { return isType(v, JSON_STRING) ? v->u.string.length : 0; }

// The text may be a piece of the value's own text, so the old buffer lives until the copy is made.
bool assignString(JsonValue* v, const char* text, int len) {
    if (!isType(v, JSON_STRING) || !text || len < 0) return false;
    size_t length = len ? (size_t)len : strlen(text);
    if (length > kMaxText) return false;
    char* old = v->u.string.text;
    if (length <= (size_t)v->u.string.capacity) {
        memmove(old, text, length);
    } else {
        char* buffer = (char*)malloc(length + 1);
        if (!buffer) return false;
        memcpy(buffer, text, length);
        if (hasOwnTextBuffer(v)) free(old);
        v->u.string.text = buffer;
        v->u.string.capacity = (int32_t)length;
    }
    v->u.string.text[length] = 0;
    v->u.string.length = (int32_t)length;
    return true;
}

unsigned int getArraySize(JsonValue* v) { return isType(v, JSON_ARRAY) ? v->u.array.count : 0; }

bool getArrayMember(JsonValue* v, unsigned int index, JsonValue** out) {
    JsonValue* m = isType(v, JSON_ARRAY) && index < v->u.array.count ? v->u.array.items[index] : nullptr;
    if (out) *out = m;
    return m != nullptr;
}

bool insertArrayMember(JsonValue* v, int index, JsonValue* member) {
    if (!isType(v, JSON_ARRAY) || !member || member->parent || isAncestorOrSelf(member, v)) return false;
    uint32_t count = v->u.array.count;
    uint32_t pos = index < 0 || (uint32_t)index > count ? count : (uint32_t)index;
    return arrayInsertAt(v, pos, member);
}

bool removeArrayMember(JsonValue* v, unsigned int index) {
    JsonValue* member;
    if (!getArrayMember(v, index, &member)) return false;
    deleteValue(&member);
    return true;
}

unsigned int getDictionarySize(JsonValue* v) { return isType(v, JSON_DICTIONARY) ? v->u.dict.count : 0; }

bool lookupDictionaryMember(JsonValue* v, const char* key, JsonValue** out) {
    DictEntry* e = nullptr;
    if (isType(v, JSON_DICTIONARY) && key && *key) e = dictFind(&v->u.dict, key, dictHash(key));
    if (out) *out = e ? e->member : nullptr;
    return e != nullptr;
}

bool setDictionaryMember(JsonValue* v, const char* key, JsonValue* member) {
    if (!isType(v, JSON_DICTIONARY) || !key || !*key || !member || member->parent ||
        isAncestorOrSelf(member, v))
        return false;
    return jsonDictSet(v, key, strlen(key), member);
}

bool removeDictionaryMember(JsonValue* v, const char* key) {
    JsonValue* member;
    if (!lookupDictionaryMember(v, key, &member)) return false;
    deleteValue(&member);
    return true;
}

bool valueDetachFromParent(JsonValue* v) {
    if (!v || !v->parent) return false;
    JsonValue* parent = v->parent;
    if (parent->type == JSON_ARRAY) {
        JsonValue** items = parent->u.array.items;
        uint32_t count = parent->u.array.count;
        uint32_t pos = (uint32_t)v->slot.index;
        for (uint32_t i = pos + 1; i < count; ++i) items[i]->slot.index--;
        memmove(items + pos, items + pos + 1, (count - pos - 1) * sizeof(JsonValue*));
        parent->u.array.count = count - 1;
    } else {
        dictErase(&parent->u.dict, v->slot.entry);
    }
    v->parent = nullptr;
    v->slot.entry = nullptr;
    return true;
}

bool valueGetParentInfo(JsonValue* v, void* out[2]) {
    if (!v || !v->parent || !out) return false;
    out[0] = v->parent;
    out[1] = v->parent->type == JSON_ARRAY ? (void*)(intptr_t)v->slot.index : (void*)v->slot.entry;
    return true;
}

void deleteValue(JsonValue** pv) {
    if (!pv || !*pv) return;
    JsonValue* v = *pv;
    valueDetachFromParent(v);
    jsonWalk(v, freeVisit);
    *pv = nullptr;
}

bool valueTraverse(JsonValue* v, JsonVisitor visitor, void* user) {
    if (!v || !visitor) return false;
    jsonWalk(v, [&](int event, JsonValue* value) { visitor(event, value, user); });
    return true;
}

// Neither a file source nor a deep copy exists; both names answer null.
void* startParseFile(const void*) { return nullptr; }

// The second names of the two-name exports: the same functions, not copies.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-attributes"  // an alias needs no attributes of its target
#endif
bool isInteger(JsonValue* v) __attribute__((alias("toBoolean")));
void* copyValue(const void* any) __attribute__((alias("startParseFile")));
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // extern "C"
