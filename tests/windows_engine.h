// A script engine that behaves as the Active Scripting documentation says an
// engine does, where the platform's VBScript engine (Wine's) differs, so
// that the host's paths for such an engine run under test too. It wraps the
// platform's engine and passes every call through, except:
//   - Clone works from any thread: a fresh engine of the same class, InitNew
//     done, no site (the host's template never holds script text, so that
//     is all a clone of it would carry).
//   - InterruptScriptThread works from any thread: the named threads that
//     execute script in this engine now are marked, and the script's next
//     call into a named item fails with the given exception, once.
// Everything else, the platform engine's refusal of foreign threads
// included, is the platform's. The wrappers count their live objects, so a
// leaked one shows, and never allocate through the module's hooks.
#pragma once

#include <windows.h>
#include <activscp.h>

namespace winengine {

// An EngineFactory: the platform's engine of `engineClass`, wrapped.
HRESULT createWindowsEngine(REFCLSID engineClass, IActiveScript** engine);

// Wrappers alive now: engines, their sites, the named items' stand-ins,
// script dispatches and the engines' records of executing threads.
long liveObjects();

// Clones made so far in the process.
long clonesMade();

}  // namespace winengine
