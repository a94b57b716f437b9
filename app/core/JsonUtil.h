// Small readers of JSON trees that the program holds: typed members of a dictionary, dictionaries
// of an array, and parsing a text into a tree.
#pragma once

#include <JsonTree.h>

#include <string>

// The tree of a JSON text, owned by the caller (hold it in a JsonTree); null when it does not parse.
JsonValue* ParseJsonText(const std::string& text);

// The container takes the member; one it refused is freed. False then.
bool JsonSetMember(JsonValue* dict, const char* name, JsonTree member);
bool JsonAppendMember(JsonValue* array, JsonTree member);

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
