// Data exchange and the dictionary: both stores really keep their values,
// shared by all jobs. Exporting without a name fails, and importing a name
// never exported fails. The journal shows an exported VARIANT as its type as
// received (by-reference included) and its text. DictionaryRetrieveByPattern
// matches names against a pattern in which '*' stands for any run of
// characters and '?' for one; pairs come back in name order.
#include "record.h"
#include "../standin.h"

#include <map>
#include <mutex>

using namespace standin;

void resetWaitStores();

namespace {

struct Stores {
    std::mutex lock;
    std::map<std::string, std::string> dictionary;   // kept in name order
    std::map<std::string, VARIANT> exports;
};

Stores& stores() {
    static Stores s;
    return s;
}

// Pairs as the journal shows them: [["name","value"],...].
std::string describe(const StringPairs& pairs) {
    std::string out = "[";
    for (const auto& [name, value] : pairs)
        out += (out.size() > 1 ? ",[" : "[") + jsonString(name.c_str()) + "," + jsonString(value.c_str()) + "]";
    return out + "]";
}

// The message an export or import wrote into the caller's 512 bytes ("" for
// none), or null when it was given no buffer.
void noteMessage(Call& c, long r, char* msg) {
    std::string written = r ? "" : c.fill(msg, 512, c.text(""));
    c.arg(msg ? written.c_str() : nullptr);
}

// A VARIANT as the journal shows it: its type and, where it has one, its text.
std::string describe(const VARIANT* v) {
    if (!v) return "null";
    VARIANT text;
    VariantInit(&text);
    std::string out = "{\"vt\":" + std::to_string(V_VT(v));
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(v), 0, VT_BSTR))) {
        int n = WideCharToMultiByte(CP_ACP, 0, V_BSTR(&text), -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? n : 1, '\0');
        if (n > 0) WideCharToMultiByte(CP_ACP, 0, V_BSTR(&text), -1, s.data(), n, nullptr, nullptr);
        out += ",\"value\":" + jsonString(s.c_str());
    }
    VariantClear(&text);
    return out + "}";
}

}  // namespace

namespace standin {
void resetStores() {
    Stores& s = stores();
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.dictionary.clear();
        for (auto& [name, value] : s.exports) VariantClear(&value);
        s.exports.clear();
    }
    resetWaitStores();
    resetObjects();
}
}  // namespace standin

// Starting content, as the agent's stores hold it before the jobs run.
extern "C" void standin_seedDictionary(const char* name, const char* value) {
    if (!name) return;
    Stores& s = stores();
    std::lock_guard<std::mutex> g(s.lock);
    s.dictionary[name] = value ? value : "";
}

extern "C" int standin_seedExport(const char* name, const VARIANT* value) {
    if (!name || !value) return 0;
    Stores& s = stores();
    std::lock_guard<std::mutex> g(s.lock);
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantCopy(&copy, const_cast<VARIANT*>(value)))) return 0;
    VariantClear(&s.exports[name]);
    s.exports[name] = copy;
    return 1;
}

int ravlinapi::MCExport(_zjobcxt* cxt, char* vname, VARIANT* val, char* msg) {
    Call c(coreops::row("MCExport"), cxt);
    c.arg(vname).raw(describe(val));
    long r = c.result(vname && val ? 1 : 0);          // a value needs a name to be kept
    if (r && vname && val) {
        Stores& s = stores();
        std::lock_guard<std::mutex> g(s.lock);
        VARIANT copy;
        VariantInit(&copy);
        VARIANT* source = (V_VT(val) == (VT_BYREF | VT_VARIANT)) ? V_VARIANTREF(val) : val;
        if (SUCCEEDED(VariantCopyInd(&copy, source))) {
            VariantClear(&s.exports[vname]);
            s.exports[vname] = copy;
        }
    }
    noteMessage(c, r, msg);
    return c.finish(r);
}

int ravlinapi::MCImport(_zjobcxt* cxt, char* vname, VARIANT* val, char* msg) {
    Call c(coreops::row("MCImport"), cxt);
    c.arg(vname);
    long r = c.result(1);
    if (r) {
        Stores& s = stores();
        std::lock_guard<std::mutex> g(s.lock);
        auto it = vname ? s.exports.find(vname) : s.exports.end();
        if (it == s.exports.end()) r = 0;
        else if (val) VariantCopy(val, &it->second);
    }
    c.raw(describe(val));
    noteMessage(c, r, msg);
    return c.finish(r);
}

unsigned long ravlinapi::DictionaryInsertValue(_zjobcxt* cxt, const std::string& name,
                                               const std::string& value) {
    Call c(coreops::row("DictionaryInsertValue"), cxt);
    c.arg(name).arg(value);
    Stores& s = stores();
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.dictionary[name] = value;
    }
    return c.finish(c.result(1));
}

int ravlinapi::DictionaryRetrieveValue(_zjobcxt* cxt, const std::string& name, std::string& value) {
    Call c(coreops::row("DictionaryRetrieveValue"), cxt);
    c.arg(name);
    long r;
    {
        Stores& s = stores();
        std::lock_guard<std::mutex> g(s.lock);
        auto it = s.dictionary.find(name);
        r = it != s.dictionary.end();
        if (r) value = it->second;
    }
    c.arg(value);
    return c.finish(c.result(r));
}

unsigned long ravlinapi::DictionaryRetrieveAllValues(_zjobcxt* cxt, StringPairs& pairs) {
    Call c(coreops::row("DictionaryRetrieveAllValues"), cxt);
    Stores& s = stores();
    {
        std::lock_guard<std::mutex> g(s.lock);
        for (auto& [name, value] : s.dictionary) pairs.emplace_back(name, value);
    }
    c.raw(describe(pairs));
    return c.finish(c.result(static_cast<long>(pairs.size())));
}

unsigned long ravlinapi::DictionaryRetrieveByPattern(_zjobcxt* cxt, const std::string& pattern,
                                                     StringPairs& pairs) {
    Call c(coreops::row("DictionaryRetrieveByPattern"), cxt);
    c.arg(pattern);
    Stores& s = stores();
    {
        std::lock_guard<std::mutex> g(s.lock);
        for (auto& [name, value] : s.dictionary)
            if (globMatch(pattern.c_str(), name.c_str())) pairs.emplace_back(name, value);
    }
    c.raw(describe(pairs));
    return c.finish(c.result(static_cast<long>(pairs.size())));
}

unsigned long ravlinapi::DictionaryRemoveValue(_zjobcxt* cxt, const std::string& name) {
    Call c(coreops::row("DictionaryRemoveValue"), cxt);
    c.arg(name);
    long r;
    {
        Stores& s = stores();
        std::lock_guard<std::mutex> g(s.lock);
        r = static_cast<long>(s.dictionary.erase(name));
    }
    return c.finish(c.result(r));
}
