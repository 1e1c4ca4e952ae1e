// The fake machine's members as scenarios and the journal name them,
// "OBJECT.MEMBER" ("TextStream.ReadLine"), from the fakes DLL's own table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fakemachine/members.h"

// The member of that name, letters of either case as VBScript takes them;
// null for none.
const fakes::Member* findFakeMember(std::string_view name);
// "OBJECT.MEMBER" of a row of the table.
std::string fakeMemberName(const fakes::Member& member);
std::vector<std::string> fakeMemberNames();
std::vector<std::string> fakeParameters(const fakes::Member& member);
// The position of parameter `name` among the member's, -1 for none.
int fakeParameterIndex(const fakes::Member& member, std::string_view name);
