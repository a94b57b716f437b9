// Small readers of JSON trees that the program holds: typed members of a dictionary, dictionaries
// of an array, and parsing a text into a tree.
#pragma once

#include <string>

struct JsonValue;

// The tree of a JSON text, owned by the caller (free with deleteValue); null when it does not parse.
JsonValue* ParseJsonText(const std::string& text);

// True only for a member of that type; out is left as it was otherwise.
bool JsonGetStringMember(JsonValue* dict, const char* name, std::string& out);
bool JsonGetBooleanMember(JsonValue* dict, const char* name, bool& out);
bool JsonGetNumberMember(JsonValue* dict, const char* name, int& out);  // truncated to an integer
bool JsonGetArrayValue(JsonValue* dict, const char* name, JsonValue*& out);
// The text of a string member; empty when there is none.
std::string JsonStringMember(JsonValue* dict, const char* name);

// The dictionary at index (-1: the last member) of an array; false outside the array or for a
// member of another type.
bool JsonGetArrayMember(JsonValue* array, int index, JsonValue*& out);
