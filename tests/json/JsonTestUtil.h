// Helpers shared by the Tessara tests: owning holders, parse and serialize to std::string.
#pragma once

#include "Tessara.h"

#include <string>
#include <vector>

struct Owned {
    JsonValue* v;
    explicit Owned(JsonValue* value = nullptr) : v(value) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { deleteValue(&v); }
    JsonValue* get() const { return v; }
    JsonValue* release() {
        JsonValue* r = v;
        v = nullptr;
        return r;
    }
};

inline int TESSARA_CALL collectChunks(const char* chunk, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(chunk);
    return 0;
}

inline std::vector<std::string> serializeChunks(JsonValue* v) {
    std::vector<std::string> chunks;
    jsonSerialize(v, collectChunks, &chunks);
    return chunks;
}

inline std::string serialize(JsonValue* v) {
    std::string all;
    for (const std::string& c : serializeChunks(v)) all += c;
    return all;
}

inline JsonValue* parseText(const std::string& text) {
    JsonParseSource* src = startParseMemory(text.data(), (int)text.size());
    JsonValue* v = jsonParse(src);
    finishParsing(&src);
    return v;
}
