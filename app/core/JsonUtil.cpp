// Typed access to JSON trees over Tessara's exports.
#include "JsonUtil.h"

#include <Tessara.h>

namespace {

JsonValue* Member(JsonValue* dict, const char* name, int type) {
    JsonValue* member = nullptr;
    if (getValueType(dict) != 5 || !lookupDictionaryMember(dict, name, &member))
        return nullptr;
    return getValueType(member) == type ? member : nullptr;
}

}  // namespace

JsonValue* ParseJsonText(const std::string& text) {
    // Length 0 would mean "up to the terminator"; an empty text parses as nothing anyway.
    if (text.empty())
        return nullptr;
    JsonParseSource* source = startParseMemory(text.data(), static_cast<int>(text.size()));
    if (!source)
        return nullptr;
    JsonValue* value = jsonParse(source);
    finishParsing(&source);
    return value;
}

bool JsonSetMember(JsonValue* dict, const char* name, JsonTree member) {
    if (!setDictionaryMember(dict, name, member.get()))
        return false;
    member.release();
    return true;
}

bool JsonAppendMember(JsonValue* array, JsonTree member) {
    if (!insertArrayMember(array, -1, member.get()))
        return false;
    member.release();
    return true;
}

bool JsonGetStringMember(JsonValue* dict, const char* name, std::string& out) {
    JsonValue* member = Member(dict, name, 3);
    if (!member)
        return false;
    out.assign(getCString(member), getStringLength(member));
    return true;
}

std::string JsonStringMember(JsonValue* dict, const char* name) {
    std::string text;
    JsonGetStringMember(dict, name, text);
    return text;
}

bool JsonGetBooleanMember(JsonValue* dict, const char* name, bool& out) {
    JsonValue* member = Member(dict, name, 1);
    if (!member)
        return false;
    out = toBoolean(member);
    return true;
}

bool JsonGetNumberMember(JsonValue* dict, const char* name, int& out) {
    JsonValue* member = Member(dict, name, 2);
    if (!member)
        return false;
    out = toInteger(member);
    return true;
}

bool JsonGetArrayValue(JsonValue* dict, const char* name, JsonValue*& out) {
    JsonValue* member = Member(dict, name, 4);
    if (!member)
        return false;
    out = member;
    return true;
}

bool JsonGetArrayMember(JsonValue* array, int index, JsonValue*& out) {
    if (getValueType(array) != 4)
        return false;
    unsigned size = getArraySize(array);
    if (index == -1)
        index = static_cast<int>(size) - 1;
    JsonValue* member = nullptr;
    if (index < 0 || !getArrayMember(array, static_cast<unsigned>(index), &member) || getValueType(member) != 5)
        return false;
    out = member;
    return true;
}
