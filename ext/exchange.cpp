// Data exchange and dictionary.
#include "scpext.h"

STDMETHODIMP ScpExt::ExportData(BSTR vname, VARIANT val, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::ImportData(BSTR vname, VARIANT* val, VARIANT_BOOL* ret) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DictionaryInsertValue(BSTR name, BSTR value, long* retCode) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DictionaryRetrieveValue(BSTR name, VARIANT* value, long* retCode) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DictionaryRetrieveAllValues(VARIANT* tuples, long* numTuples) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DictionaryRetrieveByPattern(BSTR pattern, VARIANT* tuples, long* numTuples) {
    return E_NOTIMPL;
}

STDMETHODIMP ScpExt::DictionaryRemoveValue(BSTR name, long* retCode) {
    return E_NOTIMPL;
}
