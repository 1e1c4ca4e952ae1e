// Flat lists made from script VARIANTs, the way RaiseEvent hands several
// conditions, severities, messages and actions to the agent core in one call.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <optional>

#include "args.h"
#include "owners.h"

// The accepted elements of one script list, packed in array order: 32-bit
// integers for Long and ULong, BSTRs (the script's own, not copies) for
// String, doubles for Double.
class VariantList {
public:
    VariantList(CrtPtr<unsigned char> block, unsigned long count)
        : block_(std::move(block)), count_(count) {}

    unsigned long count() const { return count_; }
    long* longs() const { return reinterpret_cast<long*>(block_.get()); }
    unsigned long* ulongs() const { return reinterpret_cast<unsigned long*>(block_.get()); }
    double* reals() const { return reinterpret_cast<double*>(block_.get()); }
    BSTR* texts() const { return reinterpret_cast<BSTR*>(block_.get()); }

private:
    CrtPtr<unsigned char> block_;
    unsigned long count_;
};

// Reads a single value as a list of one, or the elements of a one-dimensional
// array of VARIANTs (by reference or not), skipping those ReadVariantValue
// does not accept. Nothing for an unaccepted single value, an empty array, an
// array of anything but VARIANTs, or no memory.
std::optional<VariantList> ReadVariantList(const VARIANT* v, ValueKind kind);

// Owned 8-bit copies of script texts, for the agent core's string arrays.
class StringArray {
public:
    StringArray(CrtPtr<char*> items, unsigned long count) : items_(std::move(items)), count_(count) {}
    ~StringArray();
    StringArray(StringArray&& o) noexcept : items_(std::move(o.items_)), count_(o.count_) { o.count_ = 0; }
    StringArray(const StringArray&) = delete;
    StringArray& operator=(const StringArray&) = delete;
    StringArray& operator=(StringArray&&) = delete;

    char** get() const { return items_.get(); }

private:
    CrtPtr<char*> items_;
    unsigned long count_;
};

// The first `count` texts converted as ArgString converts, but without the
// "NULL" rule: inside a list "NULL" is a message like any other. Nothing when
// memory runs out.
std::optional<StringArray> ToStringArray(unsigned long count, const BSTR* list);
