// The WMI query language as monitoring scripts write it:
//   SELECT * | a, b FROM Class [WHERE condition]
// with = <> != < > <= >= LIKE ('%', '_'), IS [NOT] NULL, AND, OR, NOT and
// parentheses over 'strings', numbers, TRUE and FALSE. Keywords and string
// comparisons ignore case, as the real service does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "machine.h"

namespace fakes {

class Condition {
public:
    virtual ~Condition() = default;
    virtual bool holds(const Json& row) const = 0;
};

struct Query {
    std::wstring cls;
    std::vector<std::wstring> properties;   // empty for *
    std::unique_ptr<Condition> where;       // null for every row
    bool selects(const Json& row) const { return !where || where->holds(row); }
};

// Null when the text is no query this reads; `tooComplex` tells whether it
// was refused for having more conditions than the service takes.
std::unique_ptr<Query> parseQuery(const std::wstring& text, bool& tooComplex);

// A row's property by name, ignoring case; null when the row lacks it.
const Json* property(const Json& row, const std::wstring& name);

}  // namespace fakes
