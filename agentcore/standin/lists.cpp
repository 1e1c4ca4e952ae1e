// Virtual data objects: an object given items of its own (a scenario's
// [objects]) has those; every other object has the items of the text
// setting of MCGetVirDataItem split at commas, which MCGetVirDataItemCnt
// counts too. Item numbers start at 1.
#include "record.h"
#include "../standin.h"

#include <map>
#include <mutex>

using namespace standin;

namespace {

struct Objects {
    std::mutex lock;
    std::map<std::string, std::vector<std::string>> items;
};

Objects& objects() {
    static Objects o;
    return o;
}

std::vector<std::string> fromText(const Call& c) {
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

std::vector<std::string> items(const Call& c, const char* objname) {
    {
        Objects& o = objects();
        std::lock_guard<std::mutex> g(o.lock);
        auto it = o.items.find(objname ? objname : "");
        if (it != o.items.end()) return it->second;
    }
    return fromText(c);
}

}  // namespace

namespace standin {
void resetObjects() {
    Objects& o = objects();
    std::lock_guard<std::mutex> g(o.lock);
    o.items.clear();
}
}  // namespace standin

extern "C" void standin_setObjectItems(const char* objname, const char* const* given, unsigned long count) {
    std::vector<std::string> list;
    for (unsigned long i = 0; i < count; ++i) list.push_back(given[i] ? given[i] : "");
    Objects& o = objects();
    std::lock_guard<std::mutex> g(o.lock);
    o.items[objname ? objname : ""] = std::move(list);
}

int ravlinapi::MCGetVirDataItemCnt(_zjobcxt* cxt, char* objname) {
    Call c(coreops::row("MCGetVirDataItemCnt"), cxt);
    c.arg(objname);
    // The items' own setting, matched against the same object name.
    Call itemSource(coreops::row("MCGetVirDataItem"), cxt);
    itemSource.arg(objname);
    return c.finish(c.result(static_cast<long>(items(itemSource, objname).size())));
}

char* ravlinapi::MCGetVirDataItem(_zjobcxt* cxt, char* objname, int idx) {
    Call c(coreops::row("MCGetVirDataItem"), cxt);
    c.arg(objname).arg(idx);
    auto all = items(c, objname);
    char* item = nullptr;
    if (c.result(1) && idx >= 1 && static_cast<std::size_t>(idx) <= all.size())
        item = handOut(all[idx - 1], Release::FreeMem);
    c.gave(item).finish(item ? 1 : 0);
    return item;
}
