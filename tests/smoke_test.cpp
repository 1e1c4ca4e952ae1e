// The platform every other test stands on: a multithreaded apartment and
// Wine's VBScript engine, created by ProgID the way the host creates it.
#include <windows.h>
#include <activscp.h>

#include <gtest/gtest.h>

namespace {

struct ComApartment {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ~ComApartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

TEST(Platform, VBScriptEngineCreatesAndInitialisesInTheMultithreadedApartment) {
  ComApartment apartment;
  ASSERT_EQ(apartment.hr, S_OK);

  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"vbs", &clsid), S_OK);

  IActiveScript* engine = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                             reinterpret_cast<void**>(&engine)),
            S_OK);
  ASSERT_NE(engine, nullptr);

  IActiveScriptParse* parse = nullptr;
  EXPECT_EQ(engine->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(&parse)),
            S_OK);
  if (parse) {
    EXPECT_EQ(parse->InitNew(), S_OK);
    parse->Release();
  }
  EXPECT_EQ(engine->Close(), S_OK);
  EXPECT_EQ(engine->Release(), 0u);
}

}  // namespace
