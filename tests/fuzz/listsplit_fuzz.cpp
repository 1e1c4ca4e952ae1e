// Coverage-guided fuzzing of list splitting: any list, delimiter and index
// must give a count and items that lie inside the list and agree with each
// other, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "listsplit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // First byte: delimiter length in code units; then an index; then UTF-16.
    if (size < 2) return 0;
    size_t delimLength = data[0] % 8;
    long idx = static_cast<int8_t>(data[1]);
    std::u16string text((size - 2) / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 + 2 * i] | (data[3 + 2 * i] << 8));
    if (delimLength > text.size()) delimLength = text.size();
    std::u16string_view delim(text.data(), delimLength);
    std::u16string_view list(text.data() + delimLength, text.size() - delimLength);

    long count = listsplit::countItems(list, delim);
    if (count < 0 || (list.empty() || delim.empty()) != (count == 0)) std::abort();
    auto item = listsplit::itemAt(list, idx, delim);
    if (item) {
        if (idx < 1 || idx > count) std::abort();
        if (item->data() < list.data() || item->data() + item->size() > list.data() + list.size()) std::abort();
    }
    return 0;
}
