// Value tree to compact JSON text, handed to the caller's writer in NUL-terminated chunks of 255
// characters (the last one shorter), so a caller can append each chunk without buffering of its own.
#include "JsonNumber.h"
#include "JsonValue.h"

#include <string.h>

namespace {

const int kChunk = 255;

struct Output {
    JsonValue* root;
    char chunk[kChunk + 1];
    int used = 0;
    JsonWriter writer;
    void* user;

    void flush() {
        chunk[used] = 0;
        writer(chunk, user);
        used = 0;
    }
    void put(char c) {
        chunk[used++] = c;
        if (used == kChunk) flush();
    }
    void put(const char* p, size_t n) {
        while (n) {
            size_t room = (size_t)(kChunk - used);
            size_t k = n < room ? n : room;
            memcpy(chunk + used, p, k);
            used += (int)k;
            p += k;
            n -= k;
            if (used == kChunk) flush();
        }
    }

    void quoted(const char* text) {
        put('"');
        const char* run = text;
        for (const char* p = text;; ++p) {
            char c = *p;
            const char* esc = nullptr;
            switch (c) {
            case 0: break;
            case '\b': esc = "\\b"; break;
            case '\t': esc = "\\t"; break;
            case '\n': esc = "\\n"; break;
            case '\f': esc = "\\f"; break;
            case '\r': esc = "\\r"; break;
            case '"': esc = "\\\""; break;
            case '\\': esc = "\\\\"; break;
            default: continue;
            }
            put(run, (size_t)(p - run));
            if (!esc) break;
            put(esc, 2);
            run = p + 1;
        }
        put('"');
    }

    void number(const JsonValue* v) {
        char text[kDoubleTextMax];
        size_t n;
        if (v->u.scalar.flag) {
            n = formatInt(v->u.scalar.value.i, text);
        } else {
            uint64_t bits;
            memcpy(&bits, &v->u.scalar.value.d, sizeof bits);
            if ((bits >> 52 & 0x7FF) == 0x7FF) {
                put("null", 4);  // NaN and the infinities have no JSON form
                return;
            }
            n = formatDouble(v->u.scalar.value.d, text);
        }
        put(text, n);
    }

    void memberPrefix(const JsonValue* v) {
        const JsonValue* parent = v->parent;
        if (parent->type == JSON_ARRAY) {
            if (v->slot.index != 0) put(',');
            return;
        }
        if (v->slot.entry != parent->u.dict.leftmost) put(',');
        quoted(v->slot.entry->key);
        put(':');
    }

    void enter(const JsonValue* v) {
        if (v != root && v->parent) memberPrefix(v);
        switch (v->type) {
        case JSON_NULL: put("null", 4); break;
        case JSON_BOOLEAN:
            if (v->u.scalar.flag)
                put("true", 4);
            else
                put("false", 5);
            break;
        case JSON_NUMBER: number(v); break;
        case JSON_STRING: quoted(v->u.string.text); break;
        case JSON_ARRAY: put('['); break;
        default: put('{'); break;
        }
    }
};

}  // namespace

extern "C" bool jsonSerialize(JsonValue* v, JsonWriter writer, void* user) {
    if (!v || !writer) return false;
    Output out;
    out.root = v;
    out.writer = writer;
    out.user = user;
    jsonWalk(v, [&](int event, JsonValue* value) {
        if (event == JSON_ENTER)
            out.enter(value);
        else if (event == JSON_LEAVE)
            out.put(value->type == JSON_ARRAY ? ']' : '}');
    });
    if (out.used) out.flush();
    return true;
}
