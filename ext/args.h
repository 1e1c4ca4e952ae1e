// The argument conventions every IScpExt method shares: how script strings,
// flags and VARIANTs become the agent core's plain values, and how results
// go back to the script.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "text.h"

// The owned 8-bit copy of a BSTR in-parameter. A null BSTR and the text
// "NULL" in any letter case become a null pointer, so the type library's
// "NULL" defaults reach the agent core as "not given".
class ArgString {
public:
    explicit ArgString(BSTR text);
    ~ArgString();
    ArgString(const ArgString&) = delete;
    ArgString& operator=(const ArgString&) = delete;

    char* get() const { return text_; }
    operator char*() const { return text_; }

private:
    char* text_ = nullptr;
};

// VARIANT_BOOL flags reach the agent core sign-extended: true is -1.
inline int flagArg(VARIANT_BOOL b) { return static_cast<int>(static_cast<short>(b)); }

// VARIANT_BOOL results carry the low 16 bits of the agent core's result, so
// 1 reaches the script as 1, not as true.
inline VARIANT_BOOL boolResult(long r) { return static_cast<VARIANT_BOOL>(static_cast<uint16_t>(r)); }

// The HRESULT of a method whose agent-core call reported r.
inline HRESULT hresultOf(long r) { return r ? S_OK : S_FALSE; }

enum class ValueKind { Long, ULong, Double, String };

// A value read from a script VARIANT without type conversion.
struct VariantValue {
    bool accepted = false;
    long number = 0;          // Long and ULong
    double real = 0.0;        // Double
    BSTR text = nullptr;      // String; the VARIANT's own, not a copy
};

// Reads a number or string out of a VARIANT without converting between
// types: one level of by-reference VARIANT is followed, arrays are refused,
// VT_I2 widens without sign (-1 gives 65535).
VariantValue ReadVariantValue(const VARIANT* v, ValueKind kind);

// Stores a result into a VARIANT out- or in/out-parameter after clearing it.
// Returns 1 when stored, 0 otherwise.
int SetVariantResult(VARIANT* target, ValueKind kind, long number);
int SetVariantResult(VARIANT* target, ValueKind kind, double real);
int SetVariantResult(VARIANT* target, ValueKind kind, const char* text);
