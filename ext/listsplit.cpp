#include "listsplit.h"

namespace listsplit {

long countItems(std::u16string_view list, std::u16string_view delim) {
    if (list.empty() || delim.empty()) return 0;
    long count = 1;
    std::size_t cursor = 0;
    while (cursor < list.size()) {
        std::size_t found = list.find(delim, cursor);
        if (found == list.npos) break;
        ++count;
        cursor = found + delim.size();
    }
    return count;
}

std::optional<std::u16string_view> itemAt(std::u16string_view list, long idx, std::u16string_view delim) {
    if (idx < 1 || list.empty() || delim.empty()) return std::nullopt;
    long n = 0;
    std::size_t cursor = 0;
    std::size_t found = list.npos;
    while (cursor < list.size()) {
        ++n;
        found = list.find(delim, cursor);
        if (n == idx || found == list.npos) break;
        cursor = found + delim.size();
    }
    if (n < idx) return std::nullopt;
    std::size_t end = found == list.npos ? list.size() : found;
    return list.substr(cursor, end - cursor);
}

}  // namespace listsplit
