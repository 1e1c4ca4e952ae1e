#include "variant_list.h"

#include <cstdlib>
#include <cstring>

#include "memory.h"

namespace {

std::size_t widthOf(ValueKind kind) {
    return kind == ValueKind::Double ? sizeof(double) : 4;
}

// Stores an accepted value in place `index` of the block.
void store(unsigned char* block, std::size_t index, ValueKind kind, const VariantValue& value) {
    switch (kind) {
    case ValueKind::Long:
    case ValueKind::ULong:
        reinterpret_cast<long*>(block)[index] = value.number;
        break;
    case ValueKind::Double:
        reinterpret_cast<double*>(block)[index] = value.real;
        break;
    case ValueKind::String:
        reinterpret_cast<BSTR*>(block)[index] = value.text;
        break;
    }
}

CrtPtr<unsigned char> zeroedBlock(std::size_t count, ValueKind kind) {
    return CrtPtr<unsigned char>(static_cast<unsigned char*>(memory::allocateZeroed(count, widthOf(kind))));
}

}  // namespace

std::optional<VariantList> ReadVariantList(const VARIANT* v, ValueKind kind) {
    if (!v) return std::nullopt;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT)) {
        v = V_VARIANTREF(v);
        if (!v) return std::nullopt;
    }
    if (!(V_VT(v) & VT_ARRAY)) {
        VariantValue value = ReadVariantValue(v, kind);
        if (!value.accepted) return std::nullopt;
        auto block = zeroedBlock(1, kind);
        if (!block) return std::nullopt;
        store(block.get(), 0, kind, value);
        return VariantList(std::move(block), 1);
    }
    // Script arrays always hold VARIANTs; any other array is not a list.
    if ((V_VT(v) & VT_TYPEMASK) != VT_VARIANT) return std::nullopt;
    SAFEARRAY* array = (V_VT(v) & VT_BYREF) ? (V_ARRAYREF(v) ? *V_ARRAYREF(v) : nullptr) : V_ARRAY(v);
    if (!array || SafeArrayGetDim(array) < 1 || SafeArrayGetElemsize(array) != sizeof(VARIANT))
        return std::nullopt;
    std::size_t slots = 0;
    // A many-dimensional array is read as its first upper - lower + 1
    // elements in storage order; one with an empty dimension holds none.
    for (UINT dim = SafeArrayGetDim(array); dim >= 1; --dim) {
        LONG lower = 0, upper = -1;
        if (FAILED(SafeArrayGetLBound(array, dim, &lower)) || FAILED(SafeArrayGetUBound(array, dim, &upper)) ||
            upper < lower)
            return std::nullopt;
        slots = static_cast<std::size_t>(static_cast<long long>(upper) - lower + 1);
    }
    auto block = zeroedBlock(slots, kind);
    if (!block) return std::nullopt;
    SafeArrayData data(array);
    if (!data) return std::nullopt;
    unsigned long count = 0;
    for (std::size_t i = 0; i < slots; ++i) {
        VariantValue value = ReadVariantValue(&data.as<VARIANT>()[i], kind);
        if (value.accepted) store(block.get(), count++, kind, value);
    }
    return VariantList(std::move(block), count);
}

StringArray::~StringArray() {
    for (unsigned long i = 0; items_ && i < count_; ++i) std::free(items_.get()[i]);
}

std::optional<StringArray> ToStringArray(unsigned long count, const BSTR* list) {
    StringArray strings(CrtPtr<char*>(static_cast<char**>(memory::allocateZeroed(count ? count : 1, sizeof(char*)))), count);
    if (!strings.get()) return std::nullopt;
    for (unsigned long i = 0; i < count; ++i) {
        strings.get()[i] = toMultiByte(list[i]);
        if (!strings.get()[i]) return std::nullopt;
    }
    return strings;
}
