// A string the agent core allocated and handed back: the caller copies it
// and releases it through the core's freeMem on every path.
#pragma once

#include <utility>

#include "ravlin.h"

class CoreString {
public:
    CoreString(ravlinapi* core, char* text = nullptr) : core_(core), text_(text) {}
    ~CoreString() { if (text_) core_->freeMem(text_); }
    CoreString(const CoreString&) = delete;
    CoreString& operator=(const CoreString&) = delete;

    char* get() const { return text_; }
    // For operations that hand the string out through a char** parameter.
    char** put() { return &text_; }
    explicit operator bool() const { return text_ != nullptr; }

private:
    ravlinapi* core_;
    char* text_;
};
