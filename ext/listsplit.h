// Splitting a script's delimited list, on its UTF-16 text as the script holds
// it. Pure functions without platform headers, so that they build anywhere.
//
// Items are numbered from 1 and separated by every occurrence of the
// delimiter, matched exactly and left to right without overlap; items may be
// empty and keep their blanks. An empty list or delimiter has no items.
#pragma once

#include <optional>
#include <string_view>

namespace listsplit {

// 1 plus the number of delimiter occurrences; 0 for an empty list or delimiter.
long countItems(std::u16string_view list, std::u16string_view delim);

// Item number `idx`, or nothing when there is none. The walk stops once the
// list is used up, so the empty item after a trailing delimiter is counted
// by countItems but not found here.
std::optional<std::u16string_view> itemAt(std::u16string_view list, long idx, std::u16string_view delim);

}  // namespace listsplit
