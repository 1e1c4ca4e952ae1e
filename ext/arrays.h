// Script arrays made from agent-core strings.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>
#include <vector>

// What becomes of a list when one of its texts cannot be made into an element.
enum class PartialList {
    Refused,            // no array at all: the script never sees a partial list
    KeepsTheRest,       // that element stays Empty; the others are returned
};

// A one-dimensional array of VT_BSTR VARIANTs, lower bound 0, one element per
// text in order, each converted through the ANSI code page; stored into
// `target` (cleared first) as VT_ARRAY | VT_VARIANT. Returns false, with
// `target` left Empty, when the array cannot be made, or when an element
// cannot and the list is Refused.
bool setStringArray(VARIANT* target, const std::vector<std::string>& texts, PartialList rule);
