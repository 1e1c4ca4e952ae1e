// The calls log of --calls: one readable line per core call, as it happens.
#pragma once

#include <string>

#include "session.h"

// "  1.234 job 2 run 3: MSActions(15, "disk full", null, ...) = 1\n" for a
// journal line that records a call (script errors reported to the job
// included), "" for any other line. The arguments the script handed in keep
// the journal's order; what the core handed back (an item, texts it wrote,
// abort flags, filled lists) follows the result after "->", each named as
// the core names its parameter: `GetMachName() = 1 -> name "web01"`. A call
// the host refused because its run was being ended reads
// "job 2 run 3: ZTrace refused (...)". Strings are quoted with \" \\ \n \r
// \t and \xNN for other control characters, null pointers show as null.
std::string callLine(const Seen& seen);

// The trace log of --trace: "  1.234 job 2 run 3: TEXT\n" for a ZTrace call
// of a script, "" for any other line; what a script author used to an echo
// reads as the script runs. Control characters (a CR would overprint the
// line) are written as in the calls log, the rest of the text as it is.
std::string traceLine(const Seen& seen);
