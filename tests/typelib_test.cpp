// The type library as clients read it: every method of IScpExt and ITolvera
// read back from the registered library and written in the notation of the
// published method tables, so that the expected tables below are those
// tables row for row. Names, dispatch identifiers, vtable order, parameter
// names and types, directions, optional flags, defaults and help strings are
// all in the comparison; the library's, the coclass's and the job record's
// attributes follow.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "owners.h"
#include "script_fixture.h"
#include "wait_methods.h"
#include "ztolvera.h"

namespace {

struct Method {
    MEMBERID id;
    const wchar_t* name;
    const char* params;
};

// IScpExt: identifier, method, parameters (direction "in" unless named).
const Method kScpExtMethods[] = {
        {1, L"setStandAlone", R"((none))"},
        {2, L"CreateEvent", R"(sev: long; evtmsg: BSTR; action: BSTR; objlist: BSTR; value: double; agtmsg: BSTR; evtsrc: BSTR; evtid: long; msgtype: long; deletefile: VARIANT_BOOL, optional, default true)"},
        {3, L"CreateData", R"(stream: BSTR; legend: BSTR; dynaleg: BSTR; objlist: BSTR; val: double; agtmsg: BSTR; msgtype: long; schema: BSTR, optional, default "NULL"; loglimit: long, optional, default -1; lowm: double, optional, default -1.0; hiwm: double, optional, default -1.0; deletefile: VARIANT_BOOL, optional, default true; logOnHeaderCreate: VARIANT_BOOL, optional, default true)"},
        {4, L"GetAgentInfo", R"(in/out prodtype: VARIANT*; in/out verstr: VARIANT*; in/out idir: VARIANT*)"},
        {5, L"GetJobID", R"(retval jobid: long*)"},
        {6, L"GetScriptInterval", R"(retval intv: long*)"},
        {7, L"GetMachName", R"(retval machname: BSTR*)"},
        {8, L"GetTempFileName", R"(pathname: BSTR; prefix: BSTR; uniqid: long; retval filename: BSTR*)"},
        {9, L"AbortScript", R"(obj: BSTR, optional, default "NULL"; msg: BSTR, optional, default "NULL"; sev: long, optional, default -1; raise_err: VARIANT_BOOL, optional, default true)"},
        {10, L"GetVersion", R"(file: BSTR; in/out verstr: VARIANT*)"},
        {11, L"GetProgID", R"(progid: BSTR; scriptver: BSTR; retval outid: BSTR*)"},
        {12, L"IterationCount", R"(retval curiter: long*)"},
        {13, L"Item", R"(list: BSTR; idx: long; delim: BSTR; retval retval: BSTR*)"},
        {14, L"ItemCount", R"(list: BSTR; delim: BSTR; retval retcnt: long*)"},
        {15, L"GetObjItem", R"(component: BSTR; objname: BSTR; idx: long; retval stritem: BSTR*)"},
        {16, L"GetObjItemCnt", R"(component: BSTR; objname: BSTR; retval cnt: long*)"},
        {17, L"GetObjList", R"(component: BSTR; objname: BSTR; delim: BSTR, optional, default "NULL"; fullpath: VARIANT_BOOL, optional, default false; detailmask: long, optional, default 0; retval objlist: BSTR*)"},
        {18, L"GetParameter", R"(name: BSTR; retval val: VARIANT*)"},
        {19, L"GetSecurityContext", R"(label: BSTR; sublab: BSTR; valname: BSTR; in/out val: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {20, L"ExportData", R"(vname: BSTR; val: VARIANT; retval ret: VARIANT_BOOL*)"},
        {21, L"ImportData", R"(vname: BSTR; out val: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {22, L"CVSleep", R"(intv: long; noabort: VARIANT_BOOL, optional, default false; retval ret: long*)"},
        {23, L"WaitForObject", R"(hobj: long; waitintv: long; noabort: VARIANT_BOOL, optional, default false; retval ret: long*)"},
        {24, L"MCEnterCS", R"(retval ret: long*)"},
        {25, L"MCExitCS", R"((none))"},
        {26, L"IsMCAction", R"(retval actflg: VARIANT_BOOL*)"},
        {27, L"IsActionAllow", R"(act_type: long; intv_hr: long; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {28, L"UpdateAction", R"(retval ret: VARIANT_BOOL*)"},
        {29, L"MCRebootNT", R"(msg: BSTR; timeout: long; forceClose: VARIANT_BOOL; restart: VARIANT_BOOL; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {30, L"MCInCluster", R"(retval ret: VARIANT_BOOL*)"},
        {31, L"MCIsActionRunning", R"(akpname: BSTR; retval ret: VARIANT_BOOL*)"},
        {32, L"MCEnableComm", R"(globalSites: VARIANT_BOOL, optional, default false; retval ret: VARIANT_BOOL*)"},
        {33, L"MCDisableComm", R"(globalSites: VARIANT_BOOL, optional, default false; retval ret: VARIANT_BOOL*)"},
        {34, L"MCEnableUpload", R"(ult: long; retval ret: VARIANT_BOOL*)"},
        {35, L"MCUpload", R"(ult: long; retval ret: VARIANT_BOOL*)"},
        {36, L"MCSetCommType", R"(ct: long; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {37, L"MCConfigNetFlow", R"(hiwm: long; lowm: long; intv: long; dynaflow: VARIANT_BOOL; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {38, L"MCSetPrimaryMS", R"(ms: BSTR; in/out errmsg: VARIANT*; ms2: BSTR; Update: long; mchost: BSTR, optional, default "NULL"; retval ret: VARIANT_BOOL*)"},
        {39, L"MCSetMasterMC", R"(rsc: BSTR; mc: BSTR; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {40, L"MCSetBlackOut", R"(rsc: BSTR; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {41, L"MCSetResRequired", R"(rsc: BSTR; reslist: BSTR; svclist: BSTR; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {42, L"MCCompactDB", R"(in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {43, L"ZTrace", R"(msg: BSTR)"},
        {44, L"RaiseEvent", R"(idstr: BSTR; listlen: long; condL: VARIANT; sevL: VARIANT; evtmsgL: VARIANT; akpL: VARIANT; obj: BSTR; val: double; msgtype: long; agtmsg: BSTR; help: BSTR; deletefile: VARIANT_BOOL)"},
        {45, L"DynaCollectData", R"(stream: BSTR; legend: BSTR; dynaleg: BSTR; objlist: BSTR; val: double; detailmsg: BSTR; msgtype: long; schema: BSTR, optional, default "NULL"; loglimit: long, optional, default -1; lowm: double, optional, default -1.0; hiwm: double, optional, default -1.0; deletefile: VARIANT_BOOL, optional, default true; logOnHeaderCreate: VARIANT_BOOL, optional, default true; logtime: long, optional, default 0)"},
        {46, L"MCUpdateKey", R"(keyfile: BSTR; password: BSTR; out retstr: BSTR*; retval ret: VARIANT_BOOL*)"},
        {47, L"MSActions", R"(sev: long; evtmsg: BSTR; akp: BSTR; objlist: BSTR; agtmsg: BSTR; value: double, optional, default -1.0)"},
        {48, L"MSLongActions", R"(sev: long; evtmsg: BSTR; akp: BSTR; objlist: BSTR; path: BSTR; deletefile: VARIANT_BOOL, optional, default true; value: double, optional, default -1.0)"},
        {49, L"DataHeader", R"(legend: BSTR; graph_id: long; stream_id: VARIANT; objlist: BSTR, optional, default "NULL")"},
        {50, L"LongDataHeader", R"(legend: BSTR; graph_id: long; stream_id: VARIANT; log_limit: long; color: long; style: long; maxval: double; minval: double; hiwm: double; lowm: double; objlist: BSTR, optional, default "NULL")"},
        {51, L"DataLog", R"(stream_id: VARIANT; val: double; agtmsg: BSTR; logtime: long, optional, default 0)"},
        {52, L"LongDataLog", R"(stream_id: VARIANT; val: double; path: BSTR; deletefile: VARIANT_BOOL, optional, default true; logtime: long, optional, default 0)"},
        {53, L"DynaDataLog", R"(stream_id: VARIANT; legend: BSTR; val: double; agtmsg: BSTR; objlist: BSTR, optional, default "NULL"; logtime: long, optional, default 0)"},
        {54, L"LongDynaDataLog", R"(stream_id: VARIANT; legend: BSTR; val: double; path: BSTR; deletefile: VARIANT_BOOL, optional, default true; objlist: BSTR, optional, default "NULL"; logtime: long, optional, default 0)"},
        {55, L"MCAbort", R"(objlist: BSTR; agtmsg: BSTR; sev: long, optional, default -1; retevt: VARIANT_BOOL, optional, default true; raise_err: VARIANT_BOOL, optional, default true)"},
        {56, L"MCVersion", R"(component: BSTR; in/out verstr: VARIANT*; fullpath: VARIANT_BOOL, optional, default false)"},
        {57, L"GetKPInterval", R"(retval intv: long*)"},
        {58, L"GetContextEx", R"(label: BSTR; labval: BSTR; sublab: BSTR; subval: BSTR; cname: BSTR; in/out cval: VARIANT*)"},
        {59, L"MCGetMOID", R"(progid: BSTR; ver: BSTR; retval outid: BSTR*)"},
        {60, L"MCConfigPrimaryMS", R"(ms: BSTR; ms2: BSTR; mchost: BSTR; Update: long; in/out errmsg: VARIANT*; retval ret: VARIANT_BOOL*)"},
        {61, L"FetchDataSources", R"(type: long; out dataSources: VARIANT*)"},
        {62, L"CreateProxyEvent", R"(sev: long; evtmsg: BSTR; action: BSTR; objlist: BSTR; value: double, optional, default -1.0; agtmsg: BSTR, optional, default "NULL"; evtsrc: BSTR, optional, default "NULL"; evtid: long, optional, default 0; msgtype: long, optional, default 0; deletefile: VARIANT_BOOL, optional, default true)"},
        {63, L"DictionaryInsertValue", R"(name: BSTR; value: BSTR; retval retCode: long*)"},
        {64, L"DictionaryRetrieveValue", R"(name: BSTR; out value: VARIANT*; retval retCode: long*)"},
        {65, L"DictionaryRetrieveAllValues", R"(out tuples: VARIANT*; retval numTuples: long*)"},
        {66, L"DictionaryRetrieveByPattern", R"(pattern: BSTR; out tuples: VARIANT*; retval numTuples: long*)"},
        {67, L"DictionaryRemoveValue", R"(name: BSTR; retval retCode: long*)"},
        {68, L"EventXMLToPlainText", R"(xmlStr: BSTR; out plainText: VARIANT*; retval retCode: long*)"},
        {69, L"SampleLock", R"(component: VARIANT; oldLockCount: VARIANT; out newLockCount: VARIANT*; retval retCode: long*)"},
        {70, L"AcquireLock", R"(component: VARIANT; retval retCode: long*)"},
        {71, L"CreateEventEx", R"(KBid: BSTR; MetadataXml: BSTR; Severity: long; EventMsg: BSTR; action: BSTR; objlist: BSTR; value: double; detailmsg: BSTR; EventSrc: BSTR; EventID: long; msgtype: long; ProxyEvent: VARIANT_BOOL, optional, default false; deletefile: VARIANT_BOOL, optional, default true)"},
        {72, L"CreateDataEx", R"(KBid: BSTR; MetadataXml: BSTR; stream: BSTR; legend: BSTR; dynaleg: BSTR; objlist: BSTR; value: double; agtmsg: BSTR; msgtype: long; schema: BSTR, optional, default "NULL"; loglimit: long, optional, default -1; lowm: double, optional, default -1.0; hiwm: double, optional, default -1.0; deletefile: VARIANT_BOOL, optional, default true; logOnHeaderCreate: VARIANT_BOOL, optional, default true; logtime: long, optional, default 0)"},
        {73, L"AbortScriptEx", R"(KBid: BSTR; MetadataXml: BSTR; objlist: BSTR, optional, default "NULL"; agtmsg: BSTR, optional, default "NULL"; sev: long, optional, default -1; raise_err: VARIANT_BOOL, optional, default true)"},
        {74, L"WaitForObjectEx", R"(hobj: long; waitintv: long; noabort: VARIANT_BOOL, optional, default false; retval ret: long*)"},
        {75, L"cvDiffDateFromString", R"(date: BSTR; szDate: BSTR; retval ret: long*)"},
};

const Method kTolveraMethods[] = {
    {0x60010000, L"config", R"(standalone: unsigned long)"},
    {0x60010001, L"reg", R"(cxt: vsinfo; in/out cookie: unsigned long*)"},
    {0x60010002, L"compile", R"(cookie: unsigned long; script: BSTR, optional, default "NULL")"},
    {0x60010003, L"run", R"(cookie: unsigned long; pwdobj: unsigned long; in/out ret: VARIANT_BOOL*)"},
    {0x60010004, L"stop", R"(cookie: unsigned long)"},
    {0x60010005, L"unreg", R"(cookie: unsigned long)"},
};

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out += static_cast<char>(*text);
    return out;
}

std::string typeName(ITypeInfo* info, const TYPEDESC& t) {
    switch (t.vt) {
    case VT_I4: return "long";
    case VT_UI4: return "unsigned long";
    case VT_R8: return "double";
    case VT_BSTR: return "BSTR";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_LPWSTR: return "LPWSTR";
    case VT_PTR: return typeName(info, *t.lptdesc) + "*";
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> ref;
        Bstr name;
        if (SUCCEEDED(info->GetRefTypeInfo(t.hreftype, ref.put()))) ref->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
        return narrow(name.get());
    }
    default: return "vt" + std::to_string(t.vt);
    }
}

std::string defaultText(const VARIANT& v) {
    char text[64];
    switch (V_VT(&v)) {
    case VT_BSTR: return "\"" + narrow(V_BSTR(&v)) + "\"";
    case VT_BOOL: return V_BOOL(&v) == VARIANT_TRUE ? "true" : V_BOOL(&v) == VARIANT_FALSE ? "false" : std::to_string(V_BOOL(&v));
    case VT_I4: return std::to_string(V_I4(&v));
    case VT_R8: std::snprintf(text, sizeof text, "%.1f", V_R8(&v)); return text;
    default: return "vt" + std::to_string(V_VT(&v));
    }
}

// One parameter as the tables write it: direction, name, type, options, and
// any flag the notation cannot show.
std::string parameter(ITypeInfo* info, const ELEMDESC& e, const wchar_t* name) {
    const USHORT flags = e.paramdesc.wParamFlags;
    std::string direction;
    USHORT expected = PARAMFLAG_FIN;
    if (flags & PARAMFLAG_FRETVAL) direction = "retval ", expected = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    else if ((flags & PARAMFLAG_FIN) && (flags & PARAMFLAG_FOUT)) direction = "in/out ", expected = PARAMFLAG_FIN | PARAMFLAG_FOUT;
    else if (flags & PARAMFLAG_FOUT) direction = "out ", expected = PARAMFLAG_FOUT;
    std::string text = direction + narrow(name) + ": " + typeName(info, e.tdesc);
    if (flags & PARAMFLAG_FOPT) text += ", optional", expected |= PARAMFLAG_FOPT;
    if (flags & PARAMFLAG_FHASDEFAULT) {
        expected |= PARAMFLAG_FHASDEFAULT;
        text += e.paramdesc.pparamdescex ? ", default " + defaultText(e.paramdesc.pparamdescex->varDefaultValue)
                                         : ", default missing";
    }
    if (flags != expected) text += " (flags " + std::to_string(flags) + ")";
    return text;
}

// Each method of a vtable interface as "id name: parameters", with whatever
// breaks the shared shape (HRESULT result, pure virtual, stdcall, method
// invocation, its slot, help string "method NAME") added to the row.
std::vector<std::string> methodRows(ITypeInfo* info, UINT firstSlot) {
    std::vector<std::string> rows;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return rows;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(info->GetFuncDesc(i, &fd))) {
            rows.push_back("function " + std::to_string(i) + " unreadable");
            continue;
        }
        BSTR names[32] = {};
        UINT count = 0;
        info->GetNames(fd->memid, names, 32, &count);
        Bstr help;
        info->GetDocumentation(fd->memid, nullptr, help.put(), nullptr, nullptr);
        char id[16];
        std::snprintf(id, sizeof id, "%lx ", static_cast<unsigned long>(fd->memid));
        std::string row = id + narrow(names[0]) + ": ";
        std::string params;
        for (SHORT p = 0; p < fd->cParams; ++p)
            params += (p ? "; " : "") + parameter(info, fd->lprgelemdescParam[p], p + 1u < count ? names[p + 1] : L"?");
        row += fd->cParams ? params : "(none)";
        if (fd->elemdescFunc.tdesc.vt != VT_HRESULT) row += " (result vt" + std::to_string(fd->elemdescFunc.tdesc.vt) + ")";
        if (fd->funckind != FUNC_PUREVIRTUAL || fd->invkind != INVOKE_FUNC || fd->callconv != CC_STDCALL) row += " (kind)";
        if (fd->oVft != static_cast<SHORT>((firstSlot + i) * sizeof(void*))) row += " (slot " + std::to_string(fd->oVft) + ")";
        if (narrow(help.get()) != "method " + narrow(names[0])) row += " (help " + narrow(help.get()) + ")";
        rows.push_back(row);
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        info->ReleaseFuncDesc(fd);
    }
    info->ReleaseTypeAttr(attr);
    return rows;
}

std::vector<std::string> expectedRows(const Method* methods, std::size_t n) {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < n; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "%lx ", static_cast<unsigned long>(methods[i].id));
        rows.push_back(id + narrow(methods[i].name) + ": " + methods[i].params);
    }
    return rows;
}

void expectRows(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_EQ(actual[i], expected[i]);
}

struct TypeLibraryTest : ::testing::Test {
    void SetUp() override {
        setUpComForTests();
        ASSERT_EQ(LoadRegTypeLib(LIBID_ZTOLVERALib, 1, 0, 0x409, lib.put()), S_OK);
    }
    // The type information of `guid` and its attributes, or a failure.
    ComPtr<ITypeInfo> typeOf(REFGUID guid) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, info.put()), S_OK);
        return info;
    }
    std::string help(ITypeInfo* info) {
        Bstr name, doc;
        info->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr);
        return narrow(name.get()) + " / " + narrow(doc.get());
    }
    ComPtr<ITypeLib> lib;
};

TEST_F(TypeLibraryTest, ScpExtMethodsMatchThePublishedTable) {
    ComPtr<ITypeInfo> dispatch = typeOf(IID_IScpExt);
    ASSERT_TRUE(dispatch);
    // The vtable view behind the dual interface: the seven IDispatch slots first.
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.put()), S_OK);
    expectRows(methodRows(vtable.get(), 7), expectedRows(kScpExtMethods, std::size(kScpExtMethods)));
    ASSERT_EQ(std::size(kScpExtMethods), 75u);

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE),
              TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attr->cImplTypes, 1);
    vtable->ReleaseTypeAttr(attr);
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(vtable->GetRefTypeInfo(ref, base.put()), S_OK);
    EXPECT_EQ(help(base.get()), "IDispatch / ");
    EXPECT_EQ(help(dispatch.get()), "IScpExt / IScpExt Interface");
}

// The wait methods an ending run still lets wait: each row names its method
// by identifier and its interval parameter by position, as the library does.
TEST_F(TypeLibraryTest, WaitMethodRowsMatchTheLibrary) {
    ComPtr<ITypeInfo> dispatch = typeOf(IID_IScpExt);
    for (const WaitMethod& wait : kWaitMethods) {
        SCOPED_TRACE(narrow(wait.name));
        MEMBERID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(wait.name);
        ASSERT_EQ(dispatch->GetIDsOfNames(&name, 1, &id), S_OK);
        EXPECT_EQ(id, wait.id);
        BSTR raw[8] = {};
        UINT count = 0;
        ASSERT_EQ(dispatch->GetNames(id, raw, 8, &count), S_OK);
        Bstr names[8];
        for (UINT i = 0; i < count; ++i) names[i].reset(raw[i]);
        ASSERT_GT(count, wait.interval + 1);
        EXPECT_NE(std::wstring(names[wait.interval + 1].get()).find(L"intv"), std::wstring::npos);
    }
}

TEST_F(TypeLibraryTest, TolveraMethodsMatchThePublishedTable) {
    ComPtr<ITypeInfo> info = typeOf(IID_ITolvera);
    ASSERT_TRUE(info);
    expectRows(methodRows(info.get(), 3), expectedRows(kTolveraMethods, std::size(kTolveraMethods)));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    // A custom interface: neither dual nor for automation.
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE), 0);
    EXPECT_EQ(attr->cImplTypes, 1);
    info->ReleaseTypeAttr(attr);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(ref, base.put()), S_OK);
    EXPECT_EQ(help(base.get()), "IUnknown / ");
    EXPECT_EQ(help(info.get()), "ITolvera / ITolvera Interface");
}

TEST_F(TypeLibraryTest, LibraryCoclassAndJobRecordAreAsPublished) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_ZTOLVERALib);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    lib->ReleaseTLibAttr(attr);
    Bstr name, doc;
    ASSERT_EQ(lib->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(narrow(name.get()) + " / " + narrow(doc.get()), "ZTOLVERALib / zTolvera 1.0 Type Library");

    // The types in library order, each with its kind.
    std::vector<std::string> types;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        TYPEKIND kind;
        lib->GetTypeInfo(i, info.put());
        lib->GetTypeInfoType(i, &kind);
        types.push_back(help(info.get()) + " (" + std::to_string(kind) + ")");
    }
    EXPECT_EQ(types, (std::vector<std::string>{
        "Tolvera / Tolvera Class (5)", "ITolvera / ITolvera Interface (3)", "vsinfo /  (6)", "_vsinfo /  (1)",
        "IScpExt / IScpExt Interface (4)"}));

    // The coclass: creatable, ITolvera its default interface, IScpExt beside it.
    ComPtr<ITypeInfo> coclass = typeOf(CLSID_Tolvera);
    ASSERT_TRUE(coclass);
    TYPEATTR* co = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&co), S_OK);
    EXPECT_TRUE(co->wTypeFlags & TYPEFLAG_FCANCREATE);
    ASSERT_EQ(co->cImplTypes, 2);
    coclass->ReleaseTypeAttr(co);
    std::vector<std::string> implemented;
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE ref = 0;
        INT flags = 0;
        ComPtr<ITypeInfo> impl;
        coclass->GetRefTypeOfImplType(i, &ref);
        coclass->GetImplTypeFlags(i, &flags);
        coclass->GetRefTypeInfo(ref, impl.put());
        implemented.push_back(help(impl.get()) + " " + std::to_string(flags));
    }
    EXPECT_EQ(implemented, (std::vector<std::string>{"ITolvera / ITolvera Interface 1", "IScpExt / IScpExt Interface 0"}));

    // The alias vsinfo names the record; the record's three fields in order.
    ComPtr<ITypeInfo> alias, record;
    ASSERT_EQ(lib->GetTypeInfo(2, alias.put()), S_OK);
    TYPEATTR* a = nullptr;
    ASSERT_EQ(alias->GetTypeAttr(&a), S_OK);
    ASSERT_EQ(a->tdescAlias.vt, VT_USERDEFINED);
    EXPECT_EQ(typeName(alias.get(), a->tdescAlias), "_vsinfo");
    alias->ReleaseTypeAttr(a);
    ASSERT_EQ(lib->GetTypeInfo(3, record.put()), S_OK);
    std::vector<std::string> fields;
    for (UINT i = 0; i < 3; ++i) {
        VARDESC* v = nullptr;
        ASSERT_EQ(record->GetVarDesc(i, &v), S_OK);
        Bstr field;
        record->GetDocumentation(v->memid, field.put(), nullptr, nullptr, nullptr);
        fields.push_back(narrow(field.get()) + ": " + typeName(record.get(), v->elemdescVar.tdesc));
        record->ReleaseVarDesc(v);
    }
    EXPECT_EQ(fields, (std::vector<std::string>{"jobid: unsigned long", "jobname: LPWSTR", "jobobj: unsigned long"}));
}

}  // namespace
