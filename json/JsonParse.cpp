// JSON text to value tree: a step machine over a buffered source that builds the tree in place, each
// value attached to its container as soon as it is read. Lenient by design: stray characters between
// members are skipped and a comma before a closing bracket is accepted.
#include "JsonNumber.h"
#include "JsonValue.h"

#include <stdlib.h>
#include <string.h>

namespace {

const int kReadSize = 256;
const int kStageSize = 255;
const size_t kFirstRoom = 32;  // 31 characters and the terminator
const int kEnd = -1;

// A growable text that starts in place and moves to the heap once it outgrows that room.
struct Scratch {
    char local[kFirstRoom];
    char* data = local;
    size_t length = 0;
    size_t capacity = kFirstRoom;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (data != local) free(data);
    }

    void clear() {
        length = 0;
        data[0] = 0;
    }

    // Keeps the text NUL-terminated.
    bool append(const char* p, size_t n) {
        if (length + n + 1 > capacity) {
            size_t want = capacity * 2;
            if (want < length + n + 1) want = length + n + 1;
            char* grown = (char*)malloc(want);
            if (!grown) return false;
            memcpy(grown, data, length);
            if (data != local) free(data);
            data = grown;
            capacity = want;
        }
        memcpy(data + length, p, n);
        length += n;
        data[length] = 0;
        return true;
    }
};

struct Frame;
typedef bool (*Step)(JsonParseSource* s, Frame* f);

struct Frame {
    Scratch key;
    Scratch text;  // string values and number texts while they are read
    Step next = nullptr;
    JsonValue* current = nullptr;  // the innermost open container, or the finished result
};

int TESSARA_CALL readMemory(char* buffer, int size, void* context) {
    JsonMemoryCursor* m = (JsonMemoryCursor*)context;
    int n = m->remaining < size ? m->remaining : size;
    memcpy(buffer, m->text, (size_t)n);
    m->text += n;
    m->remaining -= n;
    return n;
}

// Bytes are signed: 0xFF reads as the end of the text, as it always has.
inline int nextChar(JsonParseSource* s) {
    if (s->pushback) {
        int c = (signed char)s->pushback;
        s->pushback = 0;
        return c;
    }
    if (s->position >= s->fill) {
        int got = s->read(s->buffer, s->bufferSize, s->readContext);
        s->position = 0;
        s->fill = got > 0 ? got : 0;
        if (got <= 0) return kEnd;
    }
    return (signed char)s->buffer[s->position++];
}

inline bool isSpace(int c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == 0; }

inline int nextSignificant(JsonParseSource* s) {
    if (s->pushback) return nextChar(s);
    int c;
    do {
        c = nextChar(s);
    } while (isSpace(c));
    return c;
}

// Collects string bytes in pieces of 255; each piece goes into the text as NUL-terminated text, so
// a NUL byte drops the rest of its piece.
struct Stager {
    Scratch* out;
    char stage[kStageSize];
    int n = 0;
    uint32_t pendingHigh = 0;  // a high surrogate waiting for its low half
    bool ok = true;

    void flushStage() {
        const char* nul = (const char*)memchr(stage, 0, (size_t)n);
        if (!out->append(stage, nul ? (size_t)(nul - stage) : (size_t)n)) ok = false;
        n = 0;
    }
    void put(char c) {
        stage[n++] = c;
        if (n == kStageSize) flushStage();
    }
    void putUtf8(uint32_t cp) {
        if (cp < 0x80) {
            put((char)cp);
        } else if (cp < 0x800) {
            put((char)(0xC0 | cp >> 6));
            put((char)(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            put((char)(0xE0 | cp >> 12));
            put((char)(0x80 | (cp >> 6 & 0x3F)));
            put((char)(0x80 | (cp & 0x3F)));
        } else {
            put((char)(0xF0 | cp >> 18));
            put((char)(0x80 | (cp >> 12 & 0x3F)));
            put((char)(0x80 | (cp >> 6 & 0x3F)));
            put((char)(0x80 | (cp & 0x3F)));
        }
    }
    void releaseHigh() {
        if (pendingHigh) putUtf8(pendingHigh);
        pendingHigh = 0;
    }
    void byte(char c) {
        releaseHigh();
        put(c);
    }
    void bytes(const char* p, size_t count) {
        releaseHigh();
        while (count) {
            size_t k = (size_t)(kStageSize - n);
            if (k > count) k = count;
            memcpy(stage + n, p, k);
            n += (int)k;
            p += k;
            count -= k;
            if (n == kStageSize) flushStage();
        }
    }
    // A surrogate pair becomes one four-byte sequence; a lone half is still written on its own.
    void codePoint(uint32_t cp) {
        if (pendingHigh && cp >= 0xDC00 && cp <= 0xDFFF) {
            putUtf8(0x10000 + ((pendingHigh - 0xD800) << 10) + (cp - 0xDC00));
            pendingHigh = 0;
            return;
        }
        releaseHigh();
        if (cp >= 0xD800 && cp <= 0xDBFF)
            pendingHigh = cp;
        else if (cp != 0)
            putUtf8(cp);
    }
    bool finish() {
        releaseHigh();
        flushStage();
        return ok;
    }
};

int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four characters after \u, read as strtol(text, 16) reads them: leading white space, a sign and
// a 0x prefix are taken, and the first other character ends the number.
uint32_t unicodeEscape(JsonParseSource* s) {
    char t[5];
    for (int i = 0; i < 4; i++) t[i] = (char)nextChar(s);
    t[4] = 0;
    int i = 0;
    while (t[i] == ' ' || (t[i] >= '\t' && t[i] <= '\r')) i++;
    bool neg = false;
    if (t[i] == '+' || t[i] == '-') neg = t[i++] == '-';
    if (t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X') && hexValue(t[i + 2]) >= 0) i += 2;
    uint32_t v = 0;
    for (int h; (h = hexValue(t[i])) >= 0; i++) v = v * 16 + (uint32_t)h;
    if (neg) v = 0u - v;
    return v & 0xFFFF;
}

// Reads up to the closing quote (the opening one is already read) into out. Fails at the end of the
// text or when memory runs out.
bool readString(JsonParseSource* s, Scratch* out) {
    out->clear();
    Stager st;
    st.out = out;
    for (;;) {
        // Plain bytes are taken from the read buffer in runs; the staging result is the same as
        // taking them one by one.
        if (!s->pushback && s->position < s->fill) {
            const char* p = s->buffer + s->position;
            const char* end = s->buffer + s->fill;
            const char* q = p;
            while (q < end && *q != '"' && *q != '\\' && *q != (char)0xFF) ++q;
            if (q != p) {
                st.bytes(p, (size_t)(q - p));
                s->position += (int32_t)(q - p);
            }
        }
        int c = nextChar(s);
        if (c == kEnd) return false;
        if (c == '"') return st.finish();
        if (c != '\\') {
            st.byte((char)c);
            continue;
        }
        do {
            c = nextChar(s);
        } while (c == 0);
        switch (c) {
        case kEnd: return false;
        case 'b': st.byte('\b'); break;
        case 'f': st.byte('\f'); break;
        case 'n': st.byte('\n'); break;
        case 'r': st.byte('\r'); break;
        case 't': st.byte('\t'); break;
        case 'u': st.codePoint(unicodeEscape(s)); break;
        default: st.byte((char)c); break;
        }
    }
}

JsonValue* stringValue(const Scratch& text) { return jsonNewString(text.data, text.length, text.length); }

inline bool isNumberChar(int c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

JsonValue* readNumber(JsonParseSource* s, Frame* f) {
    Scratch& t = f->text;
    t.clear();
    int c;
    for (;;) {
        if (!s->pushback && s->position < s->fill) {  // a run of number characters at once
            const char* p = s->buffer + s->position;
            const char* end = s->buffer + s->fill;
            const char* q = p;
            while (q < end && isNumberChar(*q)) ++q;
            if (q != p && !t.append(p, (size_t)(q - p))) return nullptr;
            s->position += (int32_t)(q - p);
        }
        if (!isNumberChar(c = nextChar(s))) break;
        char ch = (char)c;
        if (!t.append(&ch, 1)) return nullptr;
    }
    if (c == kEnd) return nullptr;  // a number must be followed by something
    if (!isSpace(c)) s->pushback = (char)c;
    int32_t i;
    double d;
    switch (parseNumber(t.data, t.length, &i, &d)) {
    case NUMBER_INTEGER: return newIntegerValue(i);
    case NUMBER_DOUBLE: return newNumberValue(d);
    default: return nullptr;
    }
}

JsonValue* readLiteral(JsonParseSource* s, const char* rest, int type, int flag) {
    for (const char* p = rest; *p; ++p) {
        if (nextChar(s) != *p) return nullptr;
    }
    JsonValue* v = jsonNewValue(type);
    if (v) v->u.scalar.flag = (uint8_t)flag;
    return v;
}

bool stepValue(JsonParseSource* s, Frame* f);
bool stepKey(JsonParseSource* s, Frame* f);
bool stepAfterValue(JsonParseSource* s, Frame* f);

bool closeContainer(Frame* f, int bracket) {
    JsonValue* cur = f->current;
    if (!cur || !jsonIsContainer(cur)) return false;
    if ((bracket == ']') != (cur->type == JSON_ARRAY)) return false;
    if (cur->parent) {
        f->current = cur->parent;
        f->next = stepAfterValue;
    } else {
        f->next = nullptr;
    }
    return true;
}

bool attach(JsonParseSource* s, Frame* f, JsonValue* v) {
    JsonValue* cur = f->current;
    bool inContainer = cur && jsonIsContainer(cur);
    if (inContainer) {
        bool ok = cur->type == JSON_ARRAY ? jsonArrayAppend(cur, v)
                                          : f->key.length && jsonDictSet(cur, f->key.data, f->key.length, v);
        if (!ok) {
            deleteValue(&v);
            return false;
        }
    } else if (cur) {
        deleteValue(&f->current);  // a top-level scalar that a later top-level value replaces
    }
    f->key.clear();
    if (jsonIsContainer(v)) {
        f->current = v;
        f->next = v->type == JSON_ARRAY ? stepValue : stepKey;
        return true;
    }
    if (!inContainer) f->current = v;
    int c = nextSignificant(s);
    if (c == kEnd) {
        f->next = nullptr;
        return !inContainer;
    }
    s->pushback = (char)c;
    f->next = stepAfterValue;
    return true;
}

bool stepValue(JsonParseSource* s, Frame* f) {
    int c = nextSignificant(s);
    JsonValue* v;
    switch (c) {
    case '"':
        if (!readString(s, &f->text)) return false;
        v = stringValue(f->text);
        break;
    case '-': case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
        s->pushback = (char)c;
        v = readNumber(s, f);
        break;
    case 't': v = readLiteral(s, "rue", JSON_BOOLEAN, 1); break;
    case 'f': v = readLiteral(s, "alse", JSON_BOOLEAN, 0); break;
    case 'n': v = readLiteral(s, "ull", JSON_NULL, 0); break;
    case '[': v = jsonNewValue(JSON_ARRAY); break;
    case '{': v = jsonNewValue(JSON_DICTIONARY); break;
    case ']':
    case '}': return closeContainer(f, c);
    default: return false;
    }
    return v && attach(s, f, v);
}

bool stepKey(JsonParseSource* s, Frame* f) {
    for (;;) {
        int c = nextSignificant(s);
        if (c == '"') {
            if (!readString(s, &f->key) || nextSignificant(s) != ':') return false;
            f->next = stepValue;
            return true;
        }
        if (c == '}') return closeContainer(f, c);
        if (c == kEnd) return false;
    }
}

bool stepAfterValue(JsonParseSource* s, Frame* f) {
    for (;;) {
        int c = nextSignificant(s);
        if (c == ',') {
            JsonValue* cur = f->current;
            f->next = cur && cur->type == JSON_DICTIONARY ? stepKey : stepValue;
            return true;
        }
        if (c == ']' || c == '}') return closeContainer(f, c);
        if (c == kEnd) return false;
    }
}

}  // namespace

extern "C" {

JsonParseSource* startParseMemory(const char* text, int len) {
    if (!text || len < 0) return nullptr;
    JsonParseSource* s = (JsonParseSource*)calloc(1, sizeof(JsonParseSource) + kReadSize);
    if (!s) return nullptr;
    s->buffer = (char*)(s + 1);
    s->bufferSize = kReadSize;
    s->read = readMemory;
    s->readContext = &s->memory;
    s->memory.text = text;
    s->memory.remaining = len ? len : (int32_t)strlen(text);
    return s;
}

JsonValue* jsonParse(JsonParseSource* source) {
    if (!source) return nullptr;
    Frame f;
    f.next = stepValue;
    while (f.next) {
        if (!f.next(source, &f)) {
            JsonValue* root = f.current;
            while (root && root->parent) root = root->parent;
            deleteValue(&root);
            return nullptr;
        }
    }
    return f.current;
}

void finishParsing(JsonParseSource** psource) {
    if (!psource || !*psource) return;
    JsonParseSource* s = *psource;
    if (s->close) s->close(s->readContext);
    free(s);  // the read buffer lives in the same block
    *psource = nullptr;
}

}  // extern "C"
