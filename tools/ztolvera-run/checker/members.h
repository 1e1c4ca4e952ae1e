// The members that scripts reach on CVEXT and CVFLEXT, read at run time from
// the type library of the zTolvera.dll the jobs run on (the same type
// information that its extension object dispatches through), so that the checker and the error
// lines never disagree with what the engine will find.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MemberParam {
    std::wstring name;
    std::wstring type;      // in VBScript's words: String, Long, Double, Boolean, Variant
    bool optional = false;
    bool byRef = false;     // the method writes into the script's variable
    std::wstring defaultValue;   // what an optional parameter left out is, as text; empty for none
};

struct Member {
    std::wstring name;
    std::vector<MemberParam> params;   // without the return value
    std::wstring returns;              // type of the [retval], empty for none
    std::wstring returnName;           // the [retval]'s name in the library ("ret", "retCode", "cnt")

    std::size_t required() const;
    // "ItemCount(list, delim) As Long", optional parameters in brackets.
    std::wstring signature() const;
};

using Members = std::vector<Member>;

// IScpExt's members from the type library inside zTolvera.dll beside the
// runner (serverPath()), read without registering it. False with the reason
// in `error`.
bool loadMembers(Members& members, std::wstring& error);

// The members loaded once for the process; empty when no library could be
// loaded (`error` then says why).
const Members& serverMembers(std::wstring* error = nullptr);

const Member* findMember(const Members& members, const std::wstring& name);

// The names nearest to a misspelt one (fewest edits, letter case aside),
// none when nothing is near.
std::vector<std::wstring> nearestNames(const Members& members, const std::wstring& name);
