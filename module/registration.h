// Self-registration of the server: the class keys from the registry script
// in resource "REGISTRY" 101 and the type library from the module's own
// "TYPELIB" resource. The DLL's DllRegisterServer/DllUnregisterServer call
// RegisterServer/UnregisterServer with the module's instance handle.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "regapply.h"

HRESULT RegisterServer(HMODULE self);
HRESULT UnregisterServer(HMODULE self);

// The pieces, each usable on its own.

inline constexpr WORD kRegistryScriptId = 101;

// Full path of a module, at most MAX_PATH characters. A path that fills the
// whole buffer may be cut short and gives 0x8007007A.
HRESULT GetModulePath(HMODULE module, std::wstring& path);

// "APPID", "Module" and "Module_Raw" for a module at modulePath. The path's
// single quotes are doubled so that it reads back exactly inside '...'.
RegReplacements ModuleReplacements(std::wstring_view modulePath);

// Resource 101 of type "REGISTRY" of the file at modulePath (opened as a data
// file), converted from the thread's ANSI code page; it ends at a NUL byte.
HRESULT LoadRegistryScript(const std::wstring& modulePath, std::u16string& text);

// Runs the registry script of the file at modulePath, with that path as the
// module; baseKey as for ApplyRegScript.
HRESULT UpdateRegistryFromResource(const std::wstring& modulePath, RegApplyMode mode, HKEY baseKey = nullptr);

// The path with its extension replaced by ".tlb" (added when it has none).
std::wstring TypeLibFallbackPath(std::wstring_view path);

// The path up to and including its last backslash, slash or colon.
std::wstring HelpDirectoryOf(std::wstring_view path);

// Loads the type library from path (or from its ".tlb" fallback) and
// registers or unregisters it.
HRESULT RegisterTypeLibFrom(const std::wstring& path);
HRESULT UnregisterTypeLibFrom(const std::wstring& path);
