#include "abort.h"

#include <activscp.h>

#include "vbcache.h"

namespace {
// The pair of codes the script site recognises as an abort the script asked
// for: error code 0xFFFF, status code with all bits set.
constexpr WORD kMarkerCode = 0xFFFF;
constexpr SCODE kMarkerStatus = static_cast<SCODE>(0xFFFFFFFF);

EXCEPINFO abortMarker() {
    EXCEPINFO marker = {};
    marker.wCode = kMarkerCode;
    marker.scode = kMarkerStatus;
    return marker;
}
}  // namespace

void interruptScript() {
    vbcache* cache = vbcache::current();
    if (!cache) return;
    cache->markAbortForThread();
    IActiveScript* engine = cache->engineForThread();
    EXCEPINFO marker = abortMarker();
    if (engine && SUCCEEDED(engine->InterruptScriptThread(SCRIPTTHREADID_CURRENT, &marker,
                                                          SCRIPTINTERRUPT_RAISEEXCEPTION)))
        return;
    // The job is marked aborted either way; without an interruption its
    // script would go on calling the agent as an aborted job.
    cache->markEndingForThread();
}

bool runIsEnding() {
    vbcache* cache = vbcache::current();
    return cache && cache->endingForThread();
}

HRESULT endRun(EXCEPINFO* excep) {
    if (excep) *excep = abortMarker();
    return DISP_E_EXCEPTION;
}
