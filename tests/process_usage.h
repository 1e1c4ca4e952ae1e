// What the test process holds: private bytes and open handles, measured the
// same way before and after repeated work, so that a leak shows as growth.
#pragma once

#include <windows.h>
#define PSAPI_VERSION 2   // GetProcessMemoryInfo from kernel32, no psapi import
#include <psapi.h>

#include <malloc.h>

#include <vector>

struct ProcessUsage {
    SIZE_T privateBytes = 0;
    SIZE_T heapBytes = 0;          // bytes in use in all of the process's heaps
    unsigned long handles = 0;
};

// Private bytes grow in steps when a heap commits another region, which
// concurrent work can cause at any round without any leak; the bytes in use
// in the heaps show a leak to the byte. Call it with no other thread at work.
inline SIZE_T bytesInUse(HANDLE heap) {
    SIZE_T total = 0;
    if (!HeapLock(heap)) return 0;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    HeapUnlock(heap);
    return total;
}

inline SIZE_T heapBytesInUse() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    SIZE_T total = 0;
    for (HANDLE heap : heaps) total += bytesInUse(heap);
    return total;
}

// The C runtime's heap alone: zTolvera's blocks and the stand-in core's live
// there, the script engine's do not, so what the engine keeps by itself does
// not blur this figure.
inline SIZE_T crtHeapBytesInUse() { return bytesInUse(reinterpret_cast<HANDLE>(_get_heap_handle())); }

// Open handles of the process. Wine 8's GetProcessHandleCount answers 0;
// there the handle values that name an open handle are counted. Wine hands
// out small multiples of 4, always the lowest free one, so every open handle
// lies below the first run of free values longer than the most handles a
// test ever held at once; the scan stops there (each probe is a call to
// Wine's server, and a whole 64K range takes about a second).
inline unsigned long openHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count) return count;
    DWORD flags;
    int free = 0;
    for (ULONG_PTR value = 4; value < 0x10000 && free < 1024; value += 4) {
        bool open = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags);
        count += open;
        free = open ? 0 : free + 1;
    }
    return count;
}

// Wine 8 leaves PrivateUsage at 0, so the page-file usage stands for it
// (what Wine reports for the process's committed private memory).
inline ProcessUsage processUsage() {
    ProcessUsage usage;
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
        usage.privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    usage.heapBytes = heapBytesInUse();
    usage.handles = openHandles();
    return usage;
}
