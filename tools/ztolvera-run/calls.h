// The calls log of --calls: one readable line per core call, as it happens.
#pragma once

#include <string>

#include "session.h"

// "  1.234 job 2 run 3: MSActions(15, "disk full", null, ...) = 1\n" for a
// journal line that records a call (script errors reported to the job
// included), "" for any other line. Arguments keep the journal's order;
// strings are quoted with \" \\ \n \r \t and \xNN for other control
// characters, null pointers show as null.
std::string callLine(const Seen& seen);
