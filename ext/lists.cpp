// Lists and object items.
#include "scpext.h"

#include <cwchar>

#include "args.h"
#include "corestring.h"
#include "listsplit.h"
#include "memory.h"

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "a BSTR is UTF-16 text");

// The script's own text up to its first NUL, never converted to 8 bits; a
// null BSTR is an empty text. "NULL" is an ordinary text here.
std::u16string_view scriptText(BSTR text) {
    if (!text) return {};
    return {reinterpret_cast<const char16_t*>(text), std::wcslen(text)};
}

}  // namespace

STDMETHODIMP ScpExt::Item(BSTR list, long idx, BSTR delim, BSTR* retval) {
    if (!retval) return E_POINTER;
    // An out-parameter: whatever it held is the caller's and is not freed here.
    *retval = nullptr;
    auto item = listsplit::itemAt(scriptText(list), idx, scriptText(delim));
    if (!item) return S_FALSE;
    *retval = memory::allocBstrLen(reinterpret_cast<const OLECHAR*>(item->data()), static_cast<UINT>(item->size()));
    return *retval ? S_OK : S_FALSE;
}

STDMETHODIMP ScpExt::ItemCount(BSTR list, BSTR delim, long* retcnt) {
    if (!retcnt) return E_POINTER;
    *retcnt = listsplit::countItems(scriptText(list), scriptText(delim));
    return S_OK;
}

// `component` is part of the interface only: the core knows objects by name.
STDMETHODIMP ScpExt::GetObjItem(BSTR component, BSTR objname, long idx, BSTR* stritem) {
    ArgString name(objname);
    if (!stritem) return E_POINTER;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    CoreString item(core_, core_->MCGetVirDataItem(&*cxt, name, idx));
    if (!item) return S_FALSE;
    *stritem = toBstr(item.get());
    return *stritem ? S_OK : S_FALSE;
}

STDMETHODIMP ScpExt::GetObjItemCnt(BSTR component, BSTR objname, long* cnt) {
    ArgString name(objname);
    if (!cnt) return E_POINTER;
    *cnt = 0;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    // The core's count as it stands, a negative one included.
    *cnt = core_->MCGetVirDataItemCnt(&*cxt, name);
    return S_OK;
}

// Object lists are not offered by this agent: scripts get an empty string.
STDMETHODIMP ScpExt::GetObjList(BSTR component, BSTR objname, BSTR delim, VARIANT_BOOL fullpath, long detailmask, BSTR* objlist) {
    return S_OK;
}
