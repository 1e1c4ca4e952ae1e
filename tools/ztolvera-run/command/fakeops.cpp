#include "fakeops.h"

#include <windows.h>

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

std::string fakeMemberName(const fakes::Member& member) { return std::string(member.object) + "." + member.name; }

const fakes::Member* findFakeMember(std::string_view name) {
    for (const fakes::Member& m : fakes::kMembers)
        if (sameLetters(fakeMemberName(m), name)) return &m;
    return nullptr;
}

std::vector<std::string> fakeMemberNames() {
    std::vector<std::string> names;
    for (const fakes::Member& m : fakes::kMembers) names.push_back(fakeMemberName(m));
    return names;
}

std::vector<std::string> fakeParameters(const fakes::Member& member) {
    std::vector<std::string> params;
    for (const char* p : member.params) {
        if (!p) break;
        params.emplace_back(p);
    }
    return params;
}

int fakeParameterIndex(const fakes::Member& member, std::string_view name) {
    for (int i = 0; i < 8 && member.params[i]; ++i)
        if (sameLetters(member.params[i], name)) return i;
    return -1;
}
