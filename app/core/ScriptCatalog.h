// The site catalogue: the service's configuration answer. Loading and lookups come with the
// service and scripts layer; until then it stays empty.
#pragma once

struct JsonValue;

class ScriptCatalog {
public:
    ScriptCatalog() = default;
    ~ScriptCatalog();
    ScriptCatalog(const ScriptCatalog&) = delete;
    ScriptCatalog& operator=(const ScriptCatalog&) = delete;

    JsonValue* root = nullptr;        // owned
    JsonValue* broadcasts = nullptr;  // the root's "b", borrowed
};
