// What --list-methods and --help METHOD print: the methods a script calls on
// CVEXT, read from the type library of the runner's zTolvera.dll (members.h), so that the
// help cannot differ from what the engine will find.
#pragma once

#include <string>

#include "members.h"

// One line per method, its signature: "ItemCount(list, delim) As Long".
std::string methodsList(const Members& members);

// The method's signature, each parameter with its type, whether it may be
// left out (and what it then is) or is written by the method, what the
// method returns, and the pitfall of a flag result: 1 for success, which is
// not True.
std::string methodHelp(const Member& member);
