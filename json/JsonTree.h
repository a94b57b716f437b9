// The one owner of a JSON tree held by C++ code: deleteValue runs on every way out.
#pragma once

#include "Tessara.h"

class JsonTree {
public:
    JsonTree() = default;
    explicit JsonTree(JsonValue* value) : value_(value) {}
    ~JsonTree() { deleteValue(&value_); }
    JsonTree(const JsonTree&) = delete;
    JsonTree& operator=(const JsonTree&) = delete;
    JsonTree(JsonTree&& other) noexcept : value_(other.release()) {}
    JsonTree& operator=(JsonTree&& other) noexcept
    {
        reset(other.release());
        return *this;
    }

    JsonValue* get() const { return value_; }
    explicit operator bool() const { return value_ != nullptr; }
    // For functions that hand back a new tree through an out-parameter; frees the one held.
    JsonValue** out()
    {
        reset();
        return &value_;
    }
    // The caller takes the tree (to insert it into another, say).
    JsonValue* release()
    {
        JsonValue* value = value_;
        value_ = nullptr;
        return value;
    }
    void reset(JsonValue* value = nullptr)
    {
        if (value == value_)
            return;
        deleteValue(&value_);
        value_ = value;
    }

private:
    JsonValue* value_ = nullptr;
};
