// Data exchange and the agent's dictionary. The core keeps every value; the
// dictionary's texts travel through the ANSI code page, and "NULL" is an
// ordinary name there, unlike the names of exported values.
#include "scpext.h"

#include <optional>

#include <string>
#include <vector>

#include "args.h"
#include "arrays.h"
#include "owners.h"

namespace {

// The core may explain an export or import here; nobody reads it.
constexpr std::size_t kMessageSize = 512;

void setAnsiString(VARIANT* target, const std::string& text) {
    VariantClear(target);
    if (BSTR b = ansiToBstr(text)) {
        V_VT(target) = VT_BSTR;
        V_BSTR(target) = b;
    }
}

// The core's pairs as the script sees them: one flat array name, value,
// name, value, ... in the core's order. The method's answer does not depend
// on the array: an array that cannot be made leaves `tuples` Empty, and an
// element that cannot be made stays Empty among the others.
void setTuples(VARIANT* tuples, const StringPairs& pairs) {
    std::vector<std::string> flat;
    flat.reserve(2 * pairs.size());
    for (const auto& [name, value] : pairs) {
        flat.push_back(name);
        flat.push_back(value);
    }
    setStringArray(tuples, flat, PartialList::KeepsTheRest);
}

// The two pair-list queries: tuples is emptied first, so that it is Empty on
// every failure path; the core's count and the array follow whatever the
// core answered. An array that cannot be made leaves tuples Empty after a
// call that was made.
template <class Fetch>
HRESULT retrievePairs(std::optional<_zjobcxt> cxt, VARIANT* tuples, long* numTuples, Fetch fetch) {
    VariantClear(tuples);
    if (!cxt) return S_FALSE;
    StringPairs pairs;
    bool called = false;
    HRESULT hr = withoutThrowing(S_FALSE, [&] {
        *numTuples = static_cast<long>(fetch(&*cxt, pairs, called));
        setTuples(tuples, pairs);
        return S_OK;
    });
    return called ? S_OK : hr;
}

}  // namespace

STDMETHODIMP ScpExt::ExportData(BSTR vname, VARIANT val, VARIANT_BOOL* ret) {
    if (!ret) return E_POINTER;
    ArgString name(vname);
    *ret = VARIANT_FALSE;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    char message[kMessageSize] = {};
    // The value goes as the script passed it; the core decides what to keep.
    *ret = boolResult(core_->MCExport(&*cxt, name, &val, message));
    return S_OK;
}

STDMETHODIMP ScpExt::ImportData(BSTR vname, VARIANT* val, VARIANT_BOOL* ret) {
    if (!val || !ret) return E_POINTER;
    ArgString name(vname);
    *ret = VARIANT_FALSE;
    if (!core_) return S_FALSE;
    VariantClear(val);
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    char message[kMessageSize] = {};
    *ret = boolResult(core_->MCImport(&*cxt, name, val, message));
    return S_OK;
}

// The dictionary's texts are standard strings: a name or value that cannot
// be converted for lack of memory never reaches the core, and the method
// answers S_FALSE as for a missing job.
STDMETHODIMP ScpExt::DictionaryInsertValue(BSTR name, BSTR value, long* retCode) {
    if (!retCode) return S_FALSE;
    return withoutThrowing(S_FALSE, [&] {
        std::string key = toAnsi(name), text = toAnsi(value);
        auto cxt = jobContext();
        if (!cxt) return S_FALSE;
        *retCode = static_cast<long>(core_->DictionaryInsertValue(&*cxt, key, text));
        return S_OK;
    });
}

STDMETHODIMP ScpExt::DictionaryRetrieveValue(BSTR name, VARIANT* value, long* retCode) {
    if (!value || !retCode) return S_FALSE;
    VariantClear(value);
    return withoutThrowing(S_FALSE, [&] {
        std::string key = toAnsi(name), text;
        auto cxt = jobContext();
        if (!cxt) return S_FALSE;
        *retCode = core_->DictionaryRetrieveValue(&*cxt, key, text);
        // What a core that found nothing left in the string means nothing.
        if (*retCode == 0) text.clear();
        setAnsiString(value, text);
        return S_OK;
    });
}

STDMETHODIMP ScpExt::DictionaryRetrieveAllValues(VARIANT* tuples, long* numTuples) {
    if (!tuples || !numTuples) return S_FALSE;
    return retrievePairs(jobContext(), tuples, numTuples, [&](_zjobcxt* cxt, StringPairs& pairs, bool& called) {
        called = true;
        return core_->DictionaryRetrieveAllValues(cxt, pairs);
    });
}

STDMETHODIMP ScpExt::DictionaryRetrieveByPattern(BSTR pattern, VARIANT* tuples, long* numTuples) {
    if (!pattern || !tuples || !numTuples) return S_FALSE;
    return retrievePairs(jobContext(), tuples, numTuples, [&](_zjobcxt* cxt, StringPairs& pairs, bool& called) {
        std::string text = toAnsi(pattern);
        called = true;
        return core_->DictionaryRetrieveByPattern(cxt, text, pairs);
    });
}

STDMETHODIMP ScpExt::DictionaryRemoveValue(BSTR name, long* retCode) {
    if (!retCode) return S_FALSE;
    return withoutThrowing(S_FALSE, [&] {
        std::string key = toAnsi(name);
        auto cxt = jobContext();
        if (!cxt) return S_FALSE;
        *retCode = static_cast<long>(core_->DictionaryRemoveValue(&*cxt, key));
        return S_OK;
    });
}
