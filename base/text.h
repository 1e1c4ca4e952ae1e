// Text conversions between the script's UTF-16 and the 8-bit texts of the
// agent core, trace lines and error reports.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

// The 8-bit conversion of a wide text for the agent core (ArgString's,
// without its "NULL" test): a zero-filled buffer of 2n+1 bytes holding at
// most 2n bytes of the C runtime's conversion for the current locale, a
// character it cannot represent given as '?'. Null when the buffer cannot
// be allocated; release with free.
char* toMultiByte(const wchar_t* text);

// A BSTR made from an 8-bit agent-core text by the C runtime's conversion
// (null text gives an empty string); null when it cannot be allocated.
BSTR toBstr(const char* text);

// Text for trace lines and error reports: UTF-16 to the C runtime's
// multibyte text for the current locale. A character the locale cannot show
// becomes '?', so one odd character does not lose the whole line; a null
// text reads "(null)".
std::string toLocaleText(const wchar_t* text);

// Standard-string conversions through the ANSI code page, without the "NULL"
// rule: a null BSTR gives an empty string.
std::string toAnsi(BSTR text);
BSTR ansiToBstr(const std::string& text);
