// The exception a job's script is ended with when the job (or the agent)
// ends its run: error code 0xFFFF, status code with all bits set. The script
// site reports it to nobody.
#pragma once

#include <windows.h>
#include <oaidl.h>

EXCEPINFO abortMarker();
bool isAbortMarker(const EXCEPINFO& excep);
