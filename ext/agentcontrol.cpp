// Agent control: queries and switches of the agent that runs the job. Plain
// operations answer with their result alone; the others also explain a
// failure in words, which the script receives in errmsg.
#include "scpext.h"

#include <optional>

#include "args.h"
#include "owners.h"

namespace {

constexpr std::size_t kErrorMessageSize = 512;
constexpr std::size_t kReplySize = 256;

// A plain query or switch: the low 16 bits of the core's result are the
// answer, and the call succeeds whatever the core said.
template <class Op>
HRESULT plainCall(std::optional<_zjobcxt> cxt, VARIANT_BOOL* ret, Op op) {
    if (!ret) return E_POINTER;
    *ret = VARIANT_FALSE;
    if (!cxt) return S_FALSE;
    *ret = boolResult(op(&*cxt));
    return S_OK;
}

// An operation that explains its failures: on success errmsg keeps what the
// script put there; on failure it receives the core's message.
template <class Op>
HRESULT callWithMessage(std::optional<_zjobcxt> cxt, VARIANT* errmsg, VARIANT_BOOL* ret, Op op) {
    if (!ret) return E_POINTER;
    *ret = VARIANT_FALSE;
    if (!cxt) return S_FALSE;
    // Cleared, so that a core that fails without a word gives an empty
    // message rather than whatever the stack held.
    char message[kErrorMessageSize] = {};
    int r = op(&*cxt, message);
    if (r) {
        *ret = boolResult(r);
        return S_OK;
    }
    message[kErrorMessageSize - 1] = '\0';
    return SetVariantResult(errmsg, ValueKind::String, message) ? S_OK : S_FALSE;
}

}  // namespace

STDMETHODIMP ScpExt::IsMCAction(VARIANT_BOOL* actflg) {
    return plainCall(jobContext(), actflg, [&](_zjobcxt* cxt) { return core_->IsMCAction(cxt); });
}

STDMETHODIMP ScpExt::IsActionAllow(long act_type, long intv_hr, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->IsActionAllow(cxt, act_type, intv_hr, message);
    });
}

STDMETHODIMP ScpExt::UpdateAction(VARIANT_BOOL* ret) {
    return plainCall(jobContext(), ret, [&](_zjobcxt* cxt) { return core_->UpdateAction(cxt); });
}

STDMETHODIMP ScpExt::MCRebootNT(BSTR msg, long timeout, VARIANT_BOOL forceClose, VARIANT_BOOL restart, VARIANT* errmsg, VARIANT_BOOL* ret) {
    ArgString message(msg);
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* reason) {
        return core_->MCRebootNT(cxt, message, timeout, flagArg(forceClose), flagArg(restart), reason);
    });
}

STDMETHODIMP ScpExt::MCInCluster(VARIANT_BOOL* ret) {
    return plainCall(jobContext(), ret, [&](_zjobcxt* cxt) { return core_->MCInCluster(cxt); });
}

STDMETHODIMP ScpExt::MCIsActionRunning(BSTR akpname, VARIANT_BOOL* ret) {
    ArgString action(akpname);
    return plainCall(jobContext(), ret, [&](_zjobcxt* cxt) { return core_->IsMCActionRunning(cxt, action); });
}

STDMETHODIMP ScpExt::MCEnableComm(VARIANT_BOOL globalSites, VARIANT_BOOL* ret) {
    return plainCall(jobContext(), ret, [&](_zjobcxt* cxt) { return core_->MCEnableComm(cxt, flagArg(globalSites)); });
}

STDMETHODIMP ScpExt::MCDisableComm(VARIANT_BOOL globalSites, VARIANT_BOOL* ret) {
    return plainCall(jobContext(), ret, [&](_zjobcxt* cxt) { return core_->MCDisableComm(cxt, flagArg(globalSites)); });
}

STDMETHODIMP ScpExt::MCEnableUpload(long ult, VARIANT_BOOL* ret) {
    return plainCall(jobContext(), ret, [&](_zjobcxt* cxt) { return core_->MCEnableUpload(cxt, ult); });
}

STDMETHODIMP ScpExt::MCUpload(long ult, VARIANT_BOOL* ret) {
    return plainCall(jobContext(), ret, [&](_zjobcxt* cxt) { return core_->MCUpload(cxt, ult); });
}

STDMETHODIMP ScpExt::MCSetCommType(long ct, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCSetCommType(cxt, ct, message);
    });
}

STDMETHODIMP ScpExt::MCConfigNetFlow(long hiwm, long lowm, long intv, VARIANT_BOOL dynaflow, VARIANT* errmsg, VARIANT_BOOL* ret) {
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCConfigNetFlow(cxt, hiwm, lowm, intv, flagArg(dynaflow), message);
    });
}

// mchost is accepted for the scripts that pass it and never read: setting the
// primary server always leaves the host alone (host flag 0).
STDMETHODIMP ScpExt::MCSetPrimaryMS(BSTR ms, VARIANT* errmsg, BSTR ms2, long Update, BSTR /*mchost*/, VARIANT_BOOL* ret) {
    ArgString primary(ms), secondary(ms2);
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCPrimaryMS(cxt, primary, secondary, Update, message, 0, nullptr);
    });
}

STDMETHODIMP ScpExt::MCSetMasterMC(BSTR rsc, BSTR mc, VARIANT* errmsg, VARIANT_BOOL* ret) {
    ArgString resource(rsc), master(mc);
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCSetMasterMC(cxt, resource, master, message);
    });
}

STDMETHODIMP ScpExt::MCSetBlackOut(BSTR rsc, VARIANT* errmsg, VARIANT_BOOL* ret) {
    ArgString resource(rsc);
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCSetBlackOut(cxt, resource, message);
    });
}

STDMETHODIMP ScpExt::MCSetResRequired(BSTR rsc, BSTR reslist, BSTR svclist, VARIANT* errmsg, VARIANT_BOOL* ret) {
    ArgString resource(rsc), resources(reslist), services(svclist);
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCSetResRequired(cxt, resource, resources, services, message);
    });
}

STDMETHODIMP ScpExt::MCCompactDB(VARIANT* errmsg, VARIANT_BOOL* ret) {
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCCompactDB(cxt, message);
    });
}

// The key update belongs to the agent, not to a job: no job context, and it
// works on any thread. The reply is the script's in every case; the password
// is passed through and kept nowhere.
STDMETHODIMP ScpExt::MCUpdateKey(BSTR keyfile, BSTR password, BSTR* retstr, VARIANT_BOOL* ret) {
    if (!retstr || !ret) return E_POINTER;
    ArgString file(keyfile), secret(password);
    *retstr = nullptr;
    *ret = VARIANT_FALSE;
    if (!core_) return S_FALSE;
    char reply[kReplySize] = {};
    *ret = boolResult(core_->MCUpdateKey(file, secret, reply));
    reply[kReplySize - 1] = '\0';
    *retstr = toBstr(reply);
    return *ret ? S_OK : S_FALSE;
}

STDMETHODIMP ScpExt::MCConfigPrimaryMS(BSTR ms, BSTR ms2, BSTR mchost, long Update, VARIANT* errmsg, VARIANT_BOOL* ret) {
    ArgString primary(ms), secondary(ms2), host(mchost);
    return callWithMessage(jobContext(), errmsg, ret, [&](_zjobcxt* cxt, char* message) {
        return core_->MCPrimaryMS(cxt, primary, secondary, Update, message, 1, host);
    });
}
