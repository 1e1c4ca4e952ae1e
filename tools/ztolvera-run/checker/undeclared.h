// Names a script uses under Option Explicit without declaring them, seen
// scope by scope as the engine resolves them: a procedure's parameters and
// its Dim and Const, then its class's members, then the script's globals
// (declared anywhere in the file, as the engine hoists them), the
// procedures and classes, VBScript's own functions and constants and the
// host's named items.
#pragma once

#include <vector>

#include "vbtokens.h"

// The first use of each undeclared name in each scope; none without
// Option Explicit.
std::vector<const VbToken*> undeclaredNames(const VbText& text);
