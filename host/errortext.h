// Texts for script errors whose report leaves them out. Some engines (the
// platform's own among them) give neither source nor description for many
// run-time errors, and no description for syntax errors; the agent's
// operator and the script's author still need to read what went wrong.
#pragma once

#include <windows.h>

#include "owners.h"

// Fills `source` and `description` where the engine left them empty, from
// the error's code: the engine's source name for the kind of error (run time
// or compilation) and the engine's documented text for the error number;
// other HRESULTs are described by the system's message table, unknown codes
// by their number. Texts the engine gave are kept.
void completeErrorText(WORD wCode, SCODE scode, Bstr& source, Bstr& description);
