// zTolvera's own heap use: the C runtime blocks it takes, and (through the
// replaced global operator new) everything the standard library allocates on
// its behalf. Both go through one check, so that a test can make any chosen
// allocation fail and prove that the agent's process survives it. In the
// shipped DLL nobody sets the hook and the check is one load.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstddef>

namespace memory {

// What is being allocated: a block of the C runtime's heap (standard
// containers and strings included), or a BSTR.
enum class Allocation { Heap, Bstr };

// Answers whether the allocation about to be made is to fail.
using FaultHook = bool (*)(Allocation what);

namespace detail {
extern std::atomic<FaultHook> faultHook;
}

inline bool allocationFails(Allocation what = Allocation::Heap) {
    FaultHook hook = detail::faultHook.load(std::memory_order_relaxed);
    return hook && hook(what);
}

// Tests only: null puts allocation back to normal.
void setFaultHook(FaultHook hook);

// The C runtime's heap, which zTolvera shares with the agent core: released
// with free (CrtPtr). Null on failure.
void* allocate(std::size_t bytes);
void* allocateZeroed(std::size_t count, std::size_t size);
wchar_t* duplicate(const wchar_t* text);

// BSTRs for scripts; null on failure.
BSTR allocBstr(const wchar_t* text);
BSTR allocBstrLen(const wchar_t* text, UINT length);

}  // namespace memory
