// The wait methods and the place of their interval among their parameters:
// a run that is being ended still takes their interval at each refused call.
// The type library's test checks every row against the library.
#pragma once

#include <windows.h>
#include <oaidl.h>

struct WaitMethod {
    const wchar_t* name;
    DISPID id;
    UINT interval;      // 0-based position of the interval parameter
};

inline constexpr WaitMethod kWaitMethods[] = {
    {L"CVSleep", 22, 0},            // CVSleep(intv, noabort)
    {L"WaitForObject", 23, 1},      // WaitForObject(hobj, waitintv, noabort)
    {L"WaitForObjectEx", 74, 1},    // WaitForObjectEx(hobj, waitintv, noabort)
};
