// How the runner obtains a Tolvera host: from the zTolvera.dll it ships
// with, through that file.
#pragma once

#include <string>

#include "owners.h"
#include "ztolvera.h"

// Creates one host from the zTolvera.dll of serverPath(), loaded by its path
// and asked through its own DllGetClassObject, so that another copy
// registered on the machine is never the one that runs; nothing is
// registered (the DLL reads its type library from its own file). A missing
// companion object is offered to this process alone. On failure `error` says
// which step failed.
HRESULT createTolvera(ComPtr<ITolvera>& host, std::wstring& error);

// The folder of the runner's program, with its final backslash.
std::wstring runnerFolder();

// zTolvera.dll where createTolvera takes it, beside the runner or one folder
// up; empty when it is in neither.
std::wstring serverPath();

// The DLL the jobs run on, as the summaries and the report name it:
// "zTolvera 1.0.0.1 (C:\...\zTolvera.dll)"; empty when there is none
// (creating the host then says why).
std::wstring serverIdentity();
