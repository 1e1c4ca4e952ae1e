// Reading the journal's lines back: the small part of JSON they use.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Null;
    std::string text;                   // a number as written (nan and inf too, as the
                                        // journal writes them), a string decoded to UTF-8
    std::vector<JsonValue> items;       // an array's elements
    std::vector<std::pair<std::string, JsonValue>> members;

    double number() const;              // 0 for anything but a number
    long integer() const;
    const JsonValue* member(const char* name) const;
    // The array element at `index`, or null when there is none.
    const JsonValue* at(std::size_t index) const;
};

// False for anything that is not one complete JSON value.
bool parseJson(const std::string& text, JsonValue& value);
