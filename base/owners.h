// Small owners for what COM and the C runtime hand out, so that every path
// releases what it took: BSTR, VARIANT, SAFEARRAY (and its data lock),
// interface pointers, C runtime heap blocks and critical sections.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdlib>
#include <memory>
#include <utility>

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : p_(text ? SysAllocString(text) : nullptr) {}
    ~Bstr() { SysFreeString(p_); }
    Bstr(Bstr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept { std::swap(p_, o.p_); return *this; }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return p_; }
    BSTR* put() { reset(); return &p_; }
    BSTR release() { return std::exchange(p_, nullptr); }
    void reset(BSTR p = nullptr) { SysFreeString(std::exchange(p_, p)); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    BSTR p_ = nullptr;
};

// Frees the texts an EXCEPINFO holds and empties it.
inline void releaseExcepInfo(EXCEPINFO* excep) {
    if (!excep) return;
    SysFreeString(excep->bstrSource);
    SysFreeString(excep->bstrDescription);
    SysFreeString(excep->bstrHelpFile);
    *excep = {};
}

class Variant : public VARIANT {
public:
    Variant() { VariantInit(this); }
    ~Variant() { VariantClear(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    void clear() { VariantClear(this); }
    // Hands the content over to `target`, which must be cleared already.
    void moveTo(VARIANT* target) { *target = *this; VariantInit(this); }
};

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() { reset(); return &p_; }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset() { if (T* p = std::exchange(p_, nullptr)) p->Release(); }
    void attach(T* p) { reset(); p_ = p; }
    T* detach() { return std::exchange(p_, nullptr); }

    template <class U>
    HRESULT as(ComPtr<U>& out) const {
        return p_ ? p_->QueryInterface(__uuidof(U), out.putVoid()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

// A block from the C runtime heap, released with free: the agent core and
// zTolvera share that heap for the strings they pass each other.
struct CrtFree {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using CrtPtr = std::unique_ptr<T, CrtFree>;

class SafeArray {
public:
    SafeArray() = default;
    explicit SafeArray(SAFEARRAY* p) : p_(p) {}
    ~SafeArray() { if (p_) SafeArrayDestroy(p_); }
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;
    SAFEARRAY* get() const { return p_; }
    SAFEARRAY* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    SAFEARRAY* p_ = nullptr;
};

// Access to a SAFEARRAY's elements for as long as the object lives.
class SafeArrayData {
public:
    explicit SafeArrayData(SAFEARRAY* array) : array_(array) {
        if (FAILED(SafeArrayAccessData(array_, &data_))) data_ = nullptr;
    }
    ~SafeArrayData() { if (data_) SafeArrayUnaccessData(array_); }
    SafeArrayData(const SafeArrayData&) = delete;
    SafeArrayData& operator=(const SafeArrayData&) = delete;
    template <class T>
    T* as() const { return static_cast<T*>(data_); }
    explicit operator bool() const { return data_ != nullptr; }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void enter() { EnterCriticalSection(&cs_); }
    void leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class Lock {
public:
    explicit Lock(CriticalSection& cs) : cs_(cs) { cs_.enter(); }
    ~Lock() { cs_.leave(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CriticalSection& cs_;
};
