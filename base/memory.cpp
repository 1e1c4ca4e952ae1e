#include "memory.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace memory {

namespace detail {
std::atomic<FaultHook> faultHook{nullptr};
}

void setFaultHook(FaultHook hook) { detail::faultHook.store(hook); }

void* allocate(std::size_t bytes) { return allocationFails() ? nullptr : std::malloc(bytes ? bytes : 1); }

void* allocateZeroed(std::size_t count, std::size_t size) {
    return allocationFails() ? nullptr : std::calloc(count ? count : 1, size ? size : 1);
}

wchar_t* duplicate(const wchar_t* text) {
    if (!text) return nullptr;
    std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(allocate(bytes));
    if (copy) std::memcpy(copy, text, bytes);
    return copy;
}

BSTR allocBstr(const wchar_t* text) { return allocationFails(Allocation::Bstr) ? nullptr : SysAllocString(text); }

BSTR allocBstrLen(const wchar_t* text, UINT length) {
    return allocationFails(Allocation::Bstr) ? nullptr : SysAllocStringLen(text, length);
}

}  // namespace memory

// The global allocation functions of zTolvera's module: the standard library
// allocates through these, so a fault injected here reaches every container
// and string. They keep the standard's contract: the throwing forms throw
// std::bad_alloc, the nothrow forms give null; zTolvera catches the former at
// each of its boundaries.
namespace {
void* heapBlock(std::size_t bytes) { return memory::allocate(bytes); }
}  // namespace

void* operator new(std::size_t bytes) {
    if (void* p = heapBlock(bytes)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) {
    if (void* p = heapBlock(bytes)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return heapBlock(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return heapBlock(bytes); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
