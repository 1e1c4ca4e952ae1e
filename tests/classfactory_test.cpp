// The class object of Tolvera and the module's lock count: one cached class
// object, aggregation through IUnknown only, and DllCanUnloadNow saying S_OK
// exactly when no instance, server lock or client reference holds the module.
#include <gtest/gtest.h>

#include "classfactory.h"
#include "module.h"
#include "owners.h"
#include "script_fixture.h"
#include "outer_unknown.h"
#include "ztolvera.h"

namespace {


struct ClassFactoryTest : ::testing::Test {
    void SetUp() override {
        setUpComForTests();
        ASSERT_EQ(getClassObject(CLSID_Tolvera, IID_IClassFactory, factory.putVoid()), S_OK);
    }
    ComPtr<IClassFactory> factory;
};

TEST_F(ClassFactoryTest, OneCachedClassObjectForTolveraOnly) {
    ComPtr<IUnknown> again;
    EXPECT_EQ(getClassObject(CLSID_Tolvera, IID_IUnknown, again.putVoid()), S_OK);
    ComPtr<IUnknown> first;
    factory->QueryInterface(IID_IUnknown, first.putVoid());
    EXPECT_EQ(again.get(), first.get());

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(IID_ITolvera, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(getClassObject(CLSID_Tolvera, IID_IClassFactory, nullptr), E_POINTER);
    ComPtr<IUnknown> none;
    EXPECT_EQ(getClassObject(CLSID_Tolvera, IID_IDispatch, none.putVoid()), E_NOINTERFACE);
}

TEST_F(ClassFactoryTest, InstancesAnswerITolveraAndIUnknownOnly) {
    ComPtr<ITolvera> host;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITolvera, host.putVoid()), S_OK);
    ComPtr<IUnknown> other;
    EXPECT_EQ(host->QueryInterface(IID_IScpExt, other.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IScpExt, other.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITolvera, nullptr), E_POINTER);
}

TEST_F(ClassFactoryTest, AggregationThroughIUnknownOnly) {
    Outer outer;
    ComPtr<IUnknown> refused;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_ITolvera, refused.putVoid()), CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(refused);

    ComPtr<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.putVoid()), S_OK);
    outer.inner = inner.get();
    // The inner ITolvera's reference counting and queries belong to the outer object.
    ITolvera* host = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ITolvera, reinterpret_cast<void**>(&host)), S_OK);
    EXPECT_EQ(outer.refs, 2);
    ComPtr<IUnknown> identity;
    host->QueryInterface(IID_IUnknown, identity.putVoid());
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
    identity.reset();
    EXPECT_EQ(host->config(0), S_OK);
    host->Release();
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    inner.reset();
}

TEST_F(ClassFactoryTest, ModuleUnloadsOnlyWhenNothingHoldsIt) {
    // The test's own reference to the class object holds the module.
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    IClassFactory* raw = factory.get();
    raw->AddRef();
    factory.reset();
    raw->Release();
    EXPECT_EQ(canUnloadNow(), S_OK) << "the table's cached reference does not count";

    ASSERT_EQ(getClassObject(CLSID_Tolvera, IID_IClassFactory, factory.putVoid()), S_OK);
    ComPtr<ITolvera> host;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITolvera, host.putVoid()), S_OK);
    factory->LockServer(TRUE);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "instance and server lock";
    host.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "server lock";
    ASSERT_EQ(getClassObject(CLSID_Tolvera, IID_IClassFactory, factory.putVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// The same through the DLL's own exports.
TEST(ExportsTest, DllGetClassObjectAndDllCanUnloadNow) {
    setUpComForTests();
    HMODULE dll = LoadLibraryW(L"zTolvera.dll");
    ASSERT_TRUE(dll);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(WINAPI*)();
    auto get = reinterpret_cast<GetClassObject>(GetProcAddress(dll, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<CanUnloadNow>(GetProcAddress(dll, "DllCanUnloadNow"));
    ASSERT_TRUE(get && canUnload);
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(get(CLSID_Tolvera, IID_IClassFactory, factory.putVoid()), S_OK);
        ComPtr<IClassFactory> again;
        ASSERT_EQ(get(CLSID_Tolvera, IID_IClassFactory, again.putVoid()), S_OK);
        EXPECT_EQ(factory.get(), again.get());
        ComPtr<ITolvera> host;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITolvera, host.putVoid()), S_OK);
        EXPECT_EQ(host->config(0), S_OK) << "constructed and initialised";
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), S_OK);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(IID_IScpExt, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    FreeLibrary(dll);
}

}  // namespace
