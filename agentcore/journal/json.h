// The journal's lines and the runner's own messages as JSON values, read and
// written through nlohmann's library; the journal's own entries are read
// through entry.h. Reading never throws; the accessors
// below answer a missing or mistyped member with an empty value.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

// Members keep the order they were written in: a line the runner writes
// reads as the journal's table shows it.
using Json = nlohmann::ordered_json;

// One complete JSON value, or false. The stand-in core writes a double that
// is not finite as printf does (nan, inf, -inf), where JSON has no word for
// it; such a bare word outside a string reads as a number of that value.
bool parseJson(const std::string& text, Json& value);

// The value as one line, invalid UTF-8 replaced rather than refused.
std::string jsonLine(const Json& value);

// The member `name` of an object, the element `index` of an array: null
// when there is none.
const Json* member(const Json& value, const char* name);
const Json* element(const Json* value, std::size_t index);

bool isString(const Json* v);
// "" for anything but a string.
const std::string& textOf(const Json* v);
// 0 for anything but a number.
double numberOf(const Json* v);
long integerOf(const Json* v);
// A number as the journal shows it (7, 1.5, 0.0, nan), "?" for a non-number.
std::string numberText(const Json* v);
