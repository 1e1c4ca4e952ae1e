// Lists and object items.
#include "scpext.h"

STDMETHODIMP ScpExt::Item(BSTR list, long idx, BSTR delim, BSTR* retval) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::ItemCount(BSTR list, BSTR delim, long* retcnt) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetObjItem(BSTR component, BSTR objname, long idx, BSTR* stritem) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetObjItemCnt(BSTR component, BSTR objname, long* cnt) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::GetObjList(BSTR component, BSTR objname, BSTR delim, VARIANT_BOOL fullpath, long detailmask, BSTR* objlist) {
    return E_NOTIMPL;
}
