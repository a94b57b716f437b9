/* Tessara: JSON value trees with parent links, JSON text parsing and writing, and the MD5 digest.
   A flat C interface so every module of the program can share trees across the DLL boundary. */
#ifndef TESSARA_H
#define TESSARA_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#  if defined(TESSARA_BUILD)
#    define TESSARA_API __declspec(dllexport)
#  else
#    define TESSARA_API __declspec(dllimport)
#  endif
#  define TESSARA_CALL __cdecl
#else
#  define TESSARA_API
#  define TESSARA_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct JsonValue JsonValue;

enum JsonType {
    JSON_NULL = 0,
    JSON_BOOLEAN = 1,
    JSON_NUMBER = 2,
    JSON_STRING = 3,
    JSON_ARRAY = 4,
    JSON_DICTIONARY = 5
};

enum JsonTraverseEvent {
    JSON_ENTER = 0,
    JSON_LEAVE = 1,
    JSON_DONE = 2
};

typedef int(TESSARA_CALL* JsonVisitor)(int event, JsonValue* value, void* user);
typedef int(TESSARA_CALL* JsonWriter)(const char* chunk, void* user);
typedef int(TESSARA_CALL* JsonSourceRead)(char* buffer, int size, void* context);
typedef void(TESSARA_CALL* JsonSourceClose)(void* context);

typedef struct JsonMemoryCursor {
    const char* text;
    int32_t remaining;
} JsonMemoryCursor;

typedef struct JsonParseSource {
    char pushback;
    char* buffer;
    int32_t bufferSize;
    int32_t position;
    int32_t fill;
    JsonSourceRead read;
    void* readContext;
    JsonSourceClose close;
    JsonMemoryCursor memory;
} JsonParseSource;

typedef struct MD5Context {
    uint32_t bits[2];
    uint32_t state[4];
    unsigned char buffer[64];
    unsigned char digest[16];
} MD5Context;

#ifdef __cplusplus
#define TESSARA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define TESSARA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
TESSARA_STATIC_ASSERT(offsetof(MD5Context, bits) == 0, "MD5Context.bits");
TESSARA_STATIC_ASSERT(offsetof(MD5Context, state) == 8, "MD5Context.state");
TESSARA_STATIC_ASSERT(offsetof(MD5Context, buffer) == 24, "MD5Context.buffer");
TESSARA_STATIC_ASSERT(offsetof(MD5Context, digest) == 88, "MD5Context.digest");
TESSARA_STATIC_ASSERT(sizeof(MD5Context) == 104, "MD5Context size");

TESSARA_API JsonValue* TESSARA_CALL newNullValue(void);
TESSARA_API JsonValue* TESSARA_CALL newBooleanValue(int b);
TESSARA_API JsonValue* TESSARA_CALL newIntegerValue(int i);
TESSARA_API JsonValue* TESSARA_CALL newNumberValue(double d);
TESSARA_API JsonValue* TESSARA_CALL newStringValue(const char* text, int len);
TESSARA_API JsonValue* TESSARA_CALL newArrayValue(void);
TESSARA_API JsonValue* TESSARA_CALL newDictionaryValue(void);

TESSARA_API int TESSARA_CALL getValueType(JsonValue* v);
TESSARA_API bool TESSARA_CALL getAsBoolean(JsonValue* v, JsonValue** out);
TESSARA_API bool TESSARA_CALL getAsNumber(JsonValue* v, JsonValue** out);
TESSARA_API bool TESSARA_CALL getAsString(JsonValue* v, JsonValue** out);
TESSARA_API bool TESSARA_CALL getAsArray(JsonValue* v, JsonValue** out);
TESSARA_API bool TESSARA_CALL getAsDictionary(JsonValue* v, JsonValue** out);
TESSARA_API bool TESSARA_CALL toBoolean(JsonValue* v);
TESSARA_API bool TESSARA_CALL isInteger(JsonValue* v);
TESSARA_API int TESSARA_CALL toInteger(JsonValue* v);
TESSARA_API double TESSARA_CALL toNumber(JsonValue* v);
TESSARA_API const char* TESSARA_CALL getCString(JsonValue* v);
TESSARA_API int TESSARA_CALL getStringLength(JsonValue* v);
TESSARA_API bool TESSARA_CALL assignString(JsonValue* v, const char* text, int len);

TESSARA_API unsigned int TESSARA_CALL getArraySize(JsonValue* v);
TESSARA_API bool TESSARA_CALL getArrayMember(JsonValue* v, unsigned int index, JsonValue** out);
TESSARA_API bool TESSARA_CALL insertArrayMember(JsonValue* v, int index, JsonValue* member);
TESSARA_API bool TESSARA_CALL removeArrayMember(JsonValue* v, unsigned int index);

TESSARA_API unsigned int TESSARA_CALL getDictionarySize(JsonValue* v);
TESSARA_API bool TESSARA_CALL lookupDictionaryMember(JsonValue* v, const char* key, JsonValue** out);
TESSARA_API bool TESSARA_CALL setDictionaryMember(JsonValue* v, const char* key, JsonValue* member);
TESSARA_API bool TESSARA_CALL removeDictionaryMember(JsonValue* v, const char* key);

TESSARA_API bool TESSARA_CALL valueDetachFromParent(JsonValue* v);
TESSARA_API bool TESSARA_CALL valueGetParentInfo(JsonValue* v, void* out[2]);
TESSARA_API void TESSARA_CALL deleteValue(JsonValue** pv);
TESSARA_API bool TESSARA_CALL valueTraverse(JsonValue* v, JsonVisitor visitor, void* user);
TESSARA_API void* TESSARA_CALL startParseFile(const void* any);
TESSARA_API void* TESSARA_CALL copyValue(const void* any);

TESSARA_API JsonParseSource* TESSARA_CALL startParseMemory(const char* text, int len);
TESSARA_API JsonValue* TESSARA_CALL jsonParse(JsonParseSource* source);
TESSARA_API void TESSARA_CALL finishParsing(JsonParseSource** psource);
TESSARA_API bool TESSARA_CALL jsonSerialize(JsonValue* v, JsonWriter writer, void* user);

TESSARA_API void TESSARA_CALL MD5Init(MD5Context* ctx);
TESSARA_API void TESSARA_CALL MD5Update(MD5Context* ctx, const unsigned char* data, unsigned int length);
TESSARA_API void TESSARA_CALL MD5Final(MD5Context* ctx);

#ifdef __cplusplus
}
#endif

#endif
