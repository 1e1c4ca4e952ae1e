// Virtual data objects: the items are the text setting of MCGetVirDataItem
// split at commas; item numbers start at 1.
#include "record.h"

using namespace standin;

namespace {
std::vector<std::string> items(const Call& c) {
    std::vector<std::string> out;
    std::string text = c.text("alpha,beta,gamma");
    std::size_t start = 0;
    while (!text.empty()) {
        std::size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}
}  // namespace

int ravlinapi::MCGetVirDataItemCnt(_zjobcxt* cxt, char* objname) {
    Call c("MCGetVirDataItemCnt", cxt);
    c.arg(objname);
    Call itemSource("MCGetVirDataItem", cxt);
    return c.finish(c.result(static_cast<long>(items(itemSource).size())));
}

char* ravlinapi::MCGetVirDataItem(_zjobcxt* cxt, char* objname, int idx) {
    Call c("MCGetVirDataItem", cxt);
    c.arg(objname).arg(idx);
    auto all = items(c);
    char* item = nullptr;
    if (c.result(1) && idx >= 1 && static_cast<std::size_t>(idx) <= all.size())
        item = handOut(all[idx - 1], Release::FreeMem);
    c.finish(item ? 1 : 0);
    return item;
}
