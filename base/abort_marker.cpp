#include "abort_marker.h"

namespace {
constexpr WORD kMarkerCode = 0xFFFF;
constexpr SCODE kMarkerStatus = static_cast<SCODE>(0xFFFFFFFF);
}  // namespace

EXCEPINFO abortMarker() {
    EXCEPINFO marker = {};
    marker.wCode = kMarkerCode;
    marker.scode = kMarkerStatus;
    return marker;
}

bool isAbortMarker(const EXCEPINFO& excep) { return excep.wCode == kMarkerCode && excep.scode == kMarkerStatus; }
