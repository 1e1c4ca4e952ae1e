// Waiting, the agent's critical section for jobs, and counted locks. The agent
// core does every wait and keeps the section and the counts; these methods
// convert arguments and map the core's answers to what the script sees.
#include "scpext.h"

#include <cmath>
#include <cstdint>
#include <optional>

#include "args.h"
#include "owners.h"
#include "trace.h"

namespace {

// The handle value a failed open gives a script; it never reaches the core.
constexpr long kInvalidHandle = -1;

constexpr char kSampleComponentLine[] =
    "ScpExt-SampleLock: component parameter cannot be converted to an unsigned long.\n";
constexpr char kSampleCountLine[] =
    "ScpExt-SampleLock: oldLockCount parameter cannot be converted to a double.\n";
constexpr char kAcquireComponentLine[] =
    "ScpExt-AcquireLock: component parameter cannot be converted to an unsigned long.\n";

// A wait's answer to the script: -1 when aborted or failed, 0 when the core
// reported -1 (timed out), otherwise the core's own value.
long waitAnswer(int aborted, int r) {
    if (aborted || r == 0) return -1;
    return r == -1 ? 0 : r;
}

// The shared course of WaitForObject and WaitForObjectEx; `wait` makes the
// core call with the job context and the abort flag.
template <class Wait>
HRESULT waitForObject(std::optional<_zjobcxt> cxt, long hobj, long* ret, Wait wait) {
    if (!ret) return E_POINTER;
    *ret = 0;
    if (!cxt) return S_FALSE;
    if (hobj == kInvalidHandle) return E_INVALIDARG;
    int aborted = 0;
    int r = wait(&*cxt, &aborted);
    *ret = waitAnswer(aborted, r);
    return S_OK;
}

void* handleOf(long hobj) { return reinterpret_cast<void*>(static_cast<intptr_t>(hobj)); }

// The lock component as the core counts it. The conversion works on a copy,
// so the script's own variable keeps its type and value.
std::optional<unsigned long> lockComponent(VARIANT& component, const char* failureLine) {
    Variant converted;
    if (FAILED(VariantChangeType(&converted, &component, 0, VT_UI4))) {
        trace(failureLine);
        return std::nullopt;
    }
    return V_UI4(&converted);
}

// A script's lock count: truncated toward zero, then the low 32 bits of that
// integer, so -1.5 counts as 4294967295. fmod is exact for every finite
// double, which keeps huge values and infinities out of undefined casts.
unsigned long lockCount(double count) {
    constexpr double kModulus = 4294967296.0;
    double low = std::fmod(std::trunc(count), kModulus);
    if (std::isnan(low)) return 0;
    if (low < 0) low += kModulus;
    return static_cast<unsigned long>(low);
}

}  // namespace

STDMETHODIMP ScpExt::CVSleep(long intv, VARIANT_BOOL noabort, long* ret) {
    if (!ret) return E_POINTER;
    *ret = 0;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    int aborted = 0;
    // The core's result says nothing that the abort flag does not.
    core_->MCSleep(&*cxt, intv, flagArg(noabort), &aborted);
    *ret = aborted ? -1 : 1;
    return S_OK;
}

STDMETHODIMP ScpExt::WaitForObject(long hobj, long waitintv, VARIANT_BOOL noabort, long* ret) {
    return waitForObject(jobContext(), hobj, ret, [&](_zjobcxt* cxt, int* aborted) {
        return core_->MCWaitForObject(cxt, waitintv, handleOf(hobj), flagArg(noabort), aborted, 0);
    });
}

// The host leaves the section for code that ended inside it, so each entry
// and exit is counted on the calling thread's activation.
STDMETHODIMP ScpExt::MCEnterCS(long* ret) {
    if (!ret) return E_POINTER;
    *ret = 0;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    int aborted = 0;
    int r = core_->MCEnterCS(&*cxt, &aborted);
    if (aborted) *ret = -1;
    else if (!r) *ret = 1;
    Activation* code = innermostActivation();
    if (r && !aborted && code) ++code->heldSections;
    return hresultOf(r);
}

STDMETHODIMP ScpExt::MCExitCS() {
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    int r = core_->MCExitCS(&*cxt);
    Activation* code = innermostActivation();
    if (r && code && code->heldSections > 0) --code->heldSections;
    return hresultOf(r);
}

void ScpExt::leaveSectionsOf(Activation& code) {
    if (!core_ || !code.jobobj) return;
    _zjobcxt cxt{code.jobobj->getData(), code.pwdobj};
    for (; code.heldSections > 0; --code.heldSections) {
        trace("ScpExt-MCExitCS: run %lu ended inside the critical section; left it for the run\n", code.pwdobj);
        core_->MCExitCS(&cxt);
    }
}

STDMETHODIMP ScpExt::SampleLock(VARIANT component, VARIANT oldLockCount, VARIANT* newLockCount, long* retCode) {
    if (!newLockCount || !retCode) return E_POINTER;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    auto id = lockComponent(component, kSampleComponentLine);
    if (!id) return S_FALSE;
    Variant count;
    if (FAILED(VariantChangeType(&count, &oldLockCount, 0, VT_R8))) {
        trace(kSampleCountLine);
        return S_FALSE;
    }
    unsigned long newCount = 0;
    *retCode = core_->SampleLock(&*cxt, *id, lockCount(V_R8(&count)), &newCount);
    SetVariantResult(newLockCount, ValueKind::Double, static_cast<double>(newCount));
    return S_OK;
}

STDMETHODIMP ScpExt::AcquireLock(VARIANT component, long* retCode) {
    if (!retCode) return E_POINTER;
    *retCode = 0;
    auto cxt = jobContext();
    if (!cxt) return S_FALSE;
    auto id = lockComponent(component, kAcquireComponentLine);
    if (!id) return S_FALSE;
    *retCode = core_->AcquireLock(&*cxt, *id);
    return S_OK;
}

STDMETHODIMP ScpExt::WaitForObjectEx(long hobj, long waitintv, VARIANT_BOOL noabort, long* ret) {
    return waitForObject(jobContext(), hobj, ret, [&](_zjobcxt* cxt, int* aborted) {
        return core_->MCWaitForObjectOffline(cxt, waitintv, handleOf(hobj), flagArg(noabort), aborted);
    });
}
