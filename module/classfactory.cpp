#include "classfactory.h"

#include <new>

#include "module.h"
#include "owners.h"
#include "registration.h"
#include "tolvera.h"

namespace {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// One row per creatable class; the table ends at a null class identifier.
struct ClassEntry {
    const CLSID* clsid;
    HRESULT (*updateRegistry)(bool registering);
    HRESULT (*createClassObject)(InstanceCreator creator, REFIID riid, void** ppv);
    InstanceCreator createInstance;
    IUnknown* classObject;                  // cached, the table's own reference
    DWORD registrationCookie;               // an in-process server registers no class objects
    const wchar_t* (*description)();
    const GUID* (*categories)();
    void (*startStop)(bool starting);
};

// The class object. Its count includes the table's own reference; a
// client's reference (count above 1) keeps the module loaded.
class ClassFactory : public IClassFactory {
public:
    explicit ClassFactory(InstanceCreator creator) : creator_(creator) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        Lock guard(lock_);
        if (++refs_ == 2) moduleLock();
        return refs_;
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs;
        {
            Lock guard(lock_);
            refs = --refs_;
            if (refs == 1) moduleUnlock();
        }
        if (refs == 0) delete this;
        return refs;
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        return creator_(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) moduleLock();
        else moduleUnlock();
        return S_OK;
    }

private:
    virtual ~ClassFactory() = default;

    CriticalSection lock_;
    LONG refs_ = 0;
    InstanceCreator creator_;
};

// The aggregatable form: answers IUnknown itself, hands every other request
// to the host inside, whose own IUnknown calls go to the outer object.
class AggregatedTolvera : public IUnknown {
public:
    // The inner object keeps its own count: a call in progress on it (a run
    // hanging on a worker) outlives the aggregate.
    explicit AggregatedTolvera(IUnknown* outer) : inner_(new (std::nothrow) CTolvera(outer)) {
        if (inner_) inner_->innerAddRef();
    }
    bool valid() const { return inner_ != nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner_->innerQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }

private:
    virtual ~AggregatedTolvera() {
        if (inner_) inner_->innerRelease();
    }

    LONG refs_ = 0;
    CTolvera* inner_;
};

HRESULT createTolvera(IUnknown* outer, REFIID riid, void** ppv) {
    IUnknown* object;
    if (outer) {
        auto* aggregated = new (std::nothrow) AggregatedTolvera(outer);
        if (aggregated && !aggregated->valid()) {
            aggregated->AddRef();
            aggregated->Release();
            aggregated = nullptr;
        }
        object = aggregated;
    } else {
        object = static_cast<ITolvera*>(new (std::nothrow) CTolvera);
    }
    if (!object) return E_OUTOFMEMORY;
    // The temporary reference lets a failed query destroy the object.
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT createClassFactory(InstanceCreator creator, REFIID riid, void** ppv) {
    auto* factory = new (std::nothrow) ClassFactory(creator);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT updateTolveraRegistry(bool registering) {
    std::wstring path;
    HRESULT hr = GetModulePath(moduleHandle(), path);
    if (FAILED(hr)) return hr;
    return UpdateRegistryFromResource(path, registering ? RegApplyMode::Register : RegApplyMode::Unregister);
}

const wchar_t* noDescription() { return nullptr; }
const GUID* noCategories() { return nullptr; }
void noStartStop(bool) {}

ClassEntry g_classes[] = {
    {&CLSID_Tolvera, updateTolveraRegistry, createClassFactory, createTolvera, nullptr, 0, noDescription,
     noCategories, noStartStop},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

CriticalSection& objectTableLock() {
    static CriticalSection lock;
    return lock;
}

}  // namespace

HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (ClassEntry* entry = g_classes; entry->clsid; ++entry) {
        if (!entry->createClassObject || *entry->clsid != clsid) continue;
        HRESULT hr = S_OK;
        {
            // Checked again under the lock, so that concurrent first requests
            // make one class object.
            Lock guard(objectTableLock());
            if (!entry->classObject)
                hr = entry->createClassObject(entry->createInstance, IID_IUnknown,
                                              reinterpret_cast<void**>(&entry->classObject));
        }
        if (FAILED(hr)) return hr;
        return entry->classObject->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT canUnloadNow() { return moduleLockCount() == 0 ? S_OK : S_FALSE; }

void releaseClassObjects() {
    for (ClassEntry* entry = g_classes; entry->clsid; ++entry) {
        IUnknown* object;
        {
            Lock guard(objectTableLock());
            object = std::exchange(entry->classObject, nullptr);
        }
        if (object) object->Release();
        entry->startStop(false);
    }
}
