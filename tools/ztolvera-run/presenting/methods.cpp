#include "methods.h"

#include <algorithm>
#include <cwchar>

#include "script.h"

namespace {

// A result that the core's 1 or 0 passes through: a Boolean that holds 1
// (not True, which is -1) or the core's result code.
bool isFlagResult(const Member& m) {
    return m.returns == L"Boolean" || (m.returns == L"Long" && m.returnName == L"retCode");
}

}  // namespace

std::string methodsList(const Members& members) {
    std::vector<std::wstring> lines;
    for (const Member& m : members) lines.push_back(m.signature());
    std::sort(lines.begin(), lines.end(),
              [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    std::string out;
    for (const std::wstring& line : lines) out += utf8(line) + "\n";
    return out + std::to_string(members.size()) + " methods of CVEXT; --help METHOD says more of one\n";
}

std::string methodHelp(const Member& m) {
    std::wstring out = L"CVEXT." + m.signature() + L"\n";
    std::size_t width = 0;
    for (const MemberParam& p : m.params) width = std::max(width, p.name.size());
    for (const MemberParam& p : m.params) {
        out += L"  " + p.name + std::wstring(width - p.name.size() + 2, L' ') + p.type;
        if (p.byRef) out += L", written by the method: pass a variable";
        // The library keeps a Boolean's default as the number it is.
        std::wstring given = p.type == L"Boolean" && p.defaultValue == L"0" ? L"False" : p.defaultValue;
        if (p.optional) out += given.empty() ? L", may be left out" : L", may be left out (then " + given + L")";
        out += L"\n";
    }
    if (m.returns.empty()) out += L"returns nothing\n";
    else out += L"returns " + m.returns + L"\n";
    if (m.returns == L"Boolean")
        out += L"pitfall: the result is 1 when the call succeeded, not True (-1): write\n"
               L"  If CVEXT." + m.name + L"(...) Then   or   If CVEXT." + m.name + L"(...) <> 0 Then\n"
               L"  never \"= True\" (always False) nor \"Not\" (Not 1 is -2, always true)\n";
    else if (isFlagResult(m))
        out += L"pitfall: the result is the core's 1 for success, 0 for failure: compare it with\n"
               L"  = 1 or <> 0, never with True, and do not negate it with Not (Not 1 is -2)\n";
    return utf8(out);
}
