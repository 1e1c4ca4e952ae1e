// How the runner, like the agent, obtains a Tolvera host through COM.
#pragma once

#include <string>

#include "owners.h"
#include "ztolvera.h"

// Creates one host. zTolvera.dll is loaded from beside the runner and,
// where the prefix lacks them, its registration and the companion object's
// are done first. The host then comes from CoCreateInstance of
// "Dozurizar.Tolvera", as the agent makes it; when the class is still not
// registered, straight from the DLL's DllGetClassObject. On failure `error`
// says which step failed.
HRESULT createTolvera(ComPtr<ITolvera>& host, std::wstring& error);

// A file beside the runner, where the build puts every DLL.
std::wstring besideRunner(const wchar_t* file);
