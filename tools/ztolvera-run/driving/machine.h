// The fake machine of a scenario: the workbench's fakes DLL answers the
// scripts' own WMI, file and registry objects in this process alone.
#pragma once

#include <string>

// Loads ztolvera-fakes.dll from beside the runner and activates, on the
// calling thread, the context that sends the scripts' CreateObject and
// GetObject of the faked classes to it; threads created afterwards inherit
// it. Each call of a fake becomes a journal line of the job and run of the
// thread that made it. False with the reason in `error`.
bool fakeMachine(const std::string& machineJson, std::string& error);
