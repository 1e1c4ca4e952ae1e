// Script arrays made from agent-core strings.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

// A one-dimensional array of VT_BSTR VARIANTs, lower bound 0, one element per
// text in order, each converted through the ANSI code page; stored into
// `target` (cleared first) as VT_ARRAY | VT_VARIANT. Returns false, with
// `target` left Empty, when the array or one of its elements cannot be made:
// the script never sees a partial list.
bool setStringArray(VARIANT* target, const std::vector<std::string>& texts);
