// How the runner, like the agent, obtains a Tolvera host through COM.
#pragma once

#include <string>

#include "owners.h"
#include "ztolvera.h"

// Creates one host. zTolvera.dll is loaded from beside the runner (or from
// the folder above it, as the release lays it out) and, where the class is
// not registered, its registration is done first; a missing companion object
// is offered to this process alone. The host then comes from CoCreateInstance
// of "Dozurizar.Tolvera", as the agent makes it; when the class is still not
// registered, straight from the DLL's DllGetClassObject. On failure `error`
// says which step failed.
HRESULT createTolvera(ComPtr<ITolvera>& host, std::wstring& error);

// zTolvera.dll where createTolvera looks for it, beside the runner or one
// folder up; empty when it is in neither.
std::wstring serverPath();
