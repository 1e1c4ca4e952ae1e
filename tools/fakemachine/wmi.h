// The WMI scripting objects: the locator, services, object sets, objects
// and their properties, answering from the machine's "wmi" classes.
#pragma once

#include "fake.h"

namespace fakes {

// CreateObject("WbemScripting.SWbemLocator").
Fake* newLocator();

// GetObject("winmgmts:..."): the services (or the object the name ends in)
// of a display name, with its journal line; fails as the script should see it.
void openMoniker(const std::wstring& displayName, Reply& reply);

}  // namespace fakes
