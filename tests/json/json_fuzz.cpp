// libFuzzer target: any input parses or fails cleanly, and what the serializer writes reads back to
// the same text.
#include "Tessara.h"

#include <stdint.h>
#include <stdlib.h>
#include <string>

namespace {

int TESSARA_CALL append(const char* chunk, void* user) {
    static_cast<std::string*>(user)->append(chunk);
    return 0;
}

JsonValue* parse(const char* text, size_t size) {
    if (size == 0) return nullptr;  // length 0 would mean "up to the first NUL"
    JsonParseSource* src = startParseMemory(text, (int)size);
    JsonValue* v = jsonParse(src);
    finishParsing(&src);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JsonValue* first = parse((const char*)data, size);
    if (!first) return 0;
    std::string text;
    jsonSerialize(first, append, &text);
    deleteValue(&first);

    // A bare scalar needs a character after it; the serializer writes none.
    std::string input = text + " ";
    JsonValue* second = parse(input.data(), input.size());
    if (!second) abort();
    std::string again;
    jsonSerialize(second, append, &again);
    deleteValue(&second);
    if (again != text) abort();
    return 0;
}
