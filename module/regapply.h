// Writes a parsed registry script to the registry or removes what it wrote.
#pragma once

#include <windows.h>

#include "regscript.h"

enum class RegApplyMode { Register, Unregister };

// Applies every root block in order. Registering a block that fails is
// undone by unregistering that block; the first failure is returned.
// baseKey, when given, stands in for every root key, so tests can work
// below a key of their own instead of the machine's class registrations.
HRESULT ApplyRegScript(const RegScript& script, RegApplyMode mode, HKEY baseKey = nullptr);

// Expands, parses and applies a script. A script that does not expand or
// parse writes nothing and gives HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
// status (when given) tells where and why.
HRESULT RunRegScript(std::u16string_view text, const RegReplacements& replacements, RegApplyMode mode,
                     HKEY baseKey = nullptr, RegScriptStatus* status = nullptr);
