// WScript.Shell's registry and environment reads, answering from the
// machine's "registry" and "environment".
#pragma once

#include "fake.h"

namespace fakes {

// CreateObject("WScript.Shell").
Fake* newShell();

}  // namespace fakes
