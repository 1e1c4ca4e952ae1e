// Test wrappers around the engine live on the process heap directly, so that
// a test counting the allocations of the code under test never counts
// theirs. Only the non-throwing new is declared: a plain new of such a
// wrapper does not compile, so none can throw across a COM method.
#pragma once

#include <windows.h>

#include <cstddef>
#include <new>

struct OwnHeap {
    static void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
        return HeapAlloc(GetProcessHeap(), 0, bytes);
    }
    static void operator delete(void* p) noexcept { HeapFree(GetProcessHeap(), 0, p); }
};
