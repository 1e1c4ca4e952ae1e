#include "arrays.h"

#include "args.h"
#include "owners.h"

bool setStringArray(VARIANT* target, const std::vector<std::string>& texts, PartialList rule) {
    VariantClear(target);
    SAFEARRAYBOUND bound = {static_cast<ULONG>(texts.size()), 0};
    // Its elements start out Empty.
    SafeArray array(SafeArrayCreate(VT_VARIANT, 1, &bound));
    if (!array) return false;
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        Variant element;
        V_VT(&element) = VT_BSTR;
        V_BSTR(&element) = ansiToBstr(texts[i]);
        bool stored = V_VT(&element) == VT_BSTR && V_BSTR(&element) &&
                      SUCCEEDED(SafeArrayPutElement(array.get(), &i, &element));
        if (!stored && rule == PartialList::Refused) return false;
    }
    V_VT(target) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(target) = array.release();
    return true;
}
