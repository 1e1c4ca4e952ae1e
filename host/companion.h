// Identifiers of the companion Win32 extension object that scripts reach as
// CVWINEXT and CVWIN32EXT. The host only creates it by class identifier and
// hands its IDispatch to the script site.
#pragma once

#include <windows.h>

// "ScpWin32Ext Class"
inline constexpr CLSID CLSID_ScpWin32Ext = {0xF4EB82FF, 0xC9C1, 0x4968, {0xA2, 0xB1, 0xE0, 0xF3, 0x21, 0x59, 0x97, 0xF2}};
// Its dual interface IScpWin32Ext.
inline constexpr IID IID_IScpWin32Ext = {0x56DAD0DF, 0x8628, 0x4E5C, {0x86, 0x69, 0x55, 0xA4, 0x35, 0x2D, 0x2D, 0x43}};
