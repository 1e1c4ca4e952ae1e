// Events, actions and aborts: from VBScript through ScpExt down to what the
// stand-in core received.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bound_job.h"
#include "script_probe.h"
#include "test_engine.h"
#include "variant_list.h"

namespace {

using probe::call;
using probe::kJob;
using probe::kPwd;
using probe::Lines;
using probe::runMain;
using EventsTest = probe::Test;

// A probe line the script sends through MSActions to show how far it got.
std::wstring mark(const std::wstring& text) { return L"CVEXT.MSActions 0, \"" + text + L"\", \"\", \"\", \"\""; }
std::string marked(const std::string& text) { return call("MSActions", "0,\"" + text + "\",\"\",\"\",\"\",-1.0,0,null,null"); }

struct Case {
    const wchar_t* script;
    const char* op;
    const char* args;
};

TEST_F(EventsTest, EventMethodsChooseTheCoreOperationAndFlags) {
    const Case cases[] = {
        // Message type 0 carries the detail text; deletefile is not used.
        {L"CVEXT.CreateEvent 2, \"ev\", \"act\", \"obj\", 1.5, \"detail\", \"src\", 7, 0, False",
         "MSActions", R"(2,"ev","act","obj","detail",1.5,0,null,null)"},
        // Any other type names a file; deletefile defaults to true (-1).
        {L"CVEXT.CreateEvent 2, \"ev\", \"act\", \"obj\", 1.5, \"C:\\d.txt\", \"src\", 7, 1",
         "MSLongActions", R"(2,"ev","act","obj","C:\\d.txt",-1,1.5,0,null,null)"},
        {L"CVEXT.CreateEvent 2, \"ev\", \"act\", \"obj\", 1.5, \"f\", \"src\", 7, 5, False",
         "MSLongActions", R"(2,"ev","act","obj","f",0,1.5,0,null,null)"},
        // The event source and identifier have no effect.
        {L"CVEXT.CreateEvent 2, \"ev\", \"act\", \"obj\", 1.5, \"detail\", \"other\", 99, 0",
         "MSActions", R"(2,"ev","act","obj","detail",1.5,0,null,null)"},
        {L"CVEXT.CreateEvent 2, \"NULL\", \"\", \"null\", 0, \"NULL\", \"NULL\", 0, 0",
         "MSActions", R"(2,null,"",null,null,0.0,0,null,null)"},
        // A proxy event passes the proxy flag 1, also for a file.
        {L"CVEXT.CreateProxyEvent 3, \"ev\", \"a\", \"o\"",
         "MSActions", R"(3,"ev","a","o",null,-1.0,1,null,null)"},
        {L"CVEXT.CreateProxyEvent 3, \"ev\", \"a\", \"o\", 4.5, \"p\", \"s\", 1, 2",
         "MSLongActions", R"(3,"ev","a","o","p",-1,4.5,1,null,null)"},
        // CreateEventEx passes its proxy flag sign-extended and the
        // knowledge-base data in the last two places.
        {L"CVEXT.CreateEventEx \"KB1\", \"<m/>\", 4, \"ev\", \"a\", \"o\", 2, \"d\", \"src\", 9, 0, True",
         "MSActions", R"(4,"ev","a","o","d",2.0,-1,"KB1","<m/>")"},
        {L"CVEXT.CreateEventEx \"KB1\", \"NULL\", 4, \"ev\", \"a\", \"o\", 2, \"d\", \"src\", 9, 1",
         "MSLongActions", R"(4,"ev","a","o","d",-1,2.0,0,"KB1",null)"},
        {L"CVEXT.CreateEventEx \"\", \"\", 4, \"ev\", \"a\", \"o\", 2, \"d\", \"src\", 9, 3, False, False",
         "MSLongActions", R"(4,"ev","a","o","d",0,2.0,0,"","")"},
        // MSLongActions looks at no message type.
        {L"CVEXT.MSLongActions 1, \"e\", \"a\", \"o\", \"p\"",
         "MSLongActions", R"(1,"e","a","o","p",-1,-1.0,0,null,null)"},
        {L"CVEXT.MSLongActions 1, \"e\", \"a\", \"o\", \"p\", False, 3.5",
         "MSLongActions", R"(1,"e","a","o","p",0,3.5,0,null,null)"},
    };
    for (const Case& c : cases) {
        standin_reset();
        ScriptResult r = runMain(c.script);
        EXPECT_EQ(r.ret, 1) << c.script;
        EXPECT_EQ(journal(), Lines{call(c.op, c.args)}) << c.script;
    }
}

TEST_F(EventsTest, EventMethodsReportTheCoresRefusalAsSFalse) {
    BoundJob job(kJob, kPwd);
    Bstr text(L"t");
    for (const char* op : {"MSActions", "MSLongActions"}) standin_setResult(op, 0);
    EXPECT_EQ(ext->CreateEvent(1, text.get(), text.get(), text.get(), 0, text.get(), text.get(), 0, 0, 0), S_FALSE);
    EXPECT_EQ(ext->CreateProxyEvent(1, text.get(), text.get(), text.get(), 0, text.get(), text.get(), 0, 1, 0), S_FALSE);
    EXPECT_EQ(ext->MSLongActions(1, text.get(), text.get(), text.get(), text.get(), 0, 0), S_FALSE);
    standin_setResult("MSLongActions", 7);
    EXPECT_EQ(ext->CreateEventEx(text.get(), text.get(), 1, text.get(), text.get(), text.get(), 0, text.get(),
                                 text.get(), 0, 1, 0, 0), S_OK);
    EXPECT_EQ(journal().size(), 4u);
}

// RaiseEvent ------------------------------------------------------------------

TEST_F(EventsTest, RaiseEventTurnsScriptListsIntoOneCoreCall) {
    const std::wstring tail = L", \"obj\", 1.5, 0, \"det\", \"help\", True";
    struct ListCase {
        std::wstring lists;   // listlen and the four lists
        const char* args;     // the RaiseEvent line's arguments, or null for no call
    };
    const ListCase cases[] = {
        {L"2, Array(1, 2), Array(3, 4), Array(\"m1\", \"m2\"), Array(\"a1\", \"a2\")",
         R"("id",2,[1,2],[3,4],"obj",1.5,["m1","m2"],"det",0,["a1","a2"],"help",-1)"},
        // The action list must hold exactly listlen elements.
        {L"2, Array(1, 2), Array(3, 4), Array(\"m1\", \"m2\"), Array(\"a1\", \"a2\", \"a3\")", nullptr},
        {L"3, Array(1, 2), Array(3, 4), Array(\"m1\", \"m2\"), Array(\"a1\", \"a2\")", nullptr},
        // The others need at least listlen; only the first listlen are used.
        {L"2, Array(1, 2, 9), Array(3, 4, 9), Array(\"m1\", \"m2\", \"m9\"), Array(\"a1\", \"a2\")",
         R"("id",2,[1,2],[3,4],"obj",1.5,["m1","m2"],"det",0,["a1","a2"],"help",-1)"},
        {L"2, Array(1), Array(3, 4), Array(\"m1\", \"m2\"), Array(\"a1\", \"a2\")", nullptr},
        // Elements of another type are skipped: the boolean drops out.
        {L"2, Array(1, True, 0), Array(3, 4), Array(\"m1\", \"m2\"), Array(\"a1\", \"a2\")",
         R"("id",2,[1,0],[3,4],"obj",1.5,["m1","m2"],"det",0,["a1","a2"],"help",-1)"},
        {L"2, Array(1, 2), Array(3, 4), Array(\"m1\", 5, \"m2\"), Array(\"a1\", 2.5, \"a2\")",
         R"("id",2,[1,2],[3,4],"obj",1.5,["m1","m2"],"det",0,["a1","a2"],"help",-1)"},
        // A 16-bit -1 widens without sign; 32-bit values pass unchanged.
        {L"1, Array(-1), Array(-1), Array(\"m\"), Array(\"a\")",
         R"("id",1,[65535],[65535],"obj",1.5,["m"],"det",0,["a"],"help",-1)"},
        {L"1, Array(-100000), Array(70000), Array(\"m\"), Array(\"a\")",
         R"("id",1,[-100000],[70000],"obj",1.5,["m"],"det",0,["a"],"help",-1)"},
        // A single value is a list of one.
        {L"1, 5, 6, \"m\", \"a\"",
         R"("id",1,[5],[6],"obj",1.5,["m"],"det",0,["a"],"help",-1)"},
        {L"1, Array(5), 6, Array(\"m\"), \"a\"",
         R"("id",1,[5],[6],"obj",1.5,["m"],"det",0,["a"],"help",-1)"},
        // "NULL" inside a list is a message like any other.
        {L"1, 5, 6, \"NULL\", \"null\"",
         R"("id",1,[5],[6],"obj",1.5,["NULL"],"det",0,["null"],"help",-1)"},
        // Unusable lists make no call.
        {L"1, Array(), 6, \"m\", \"a\"", nullptr},
        {L"1, True, 6, \"m\", \"a\"", nullptr},
        {L"1, 5, 6, 7, \"a\"", nullptr},
        {L"1, 5, 6, \"m\", Empty", nullptr},
        {L"-1, 5, 6, \"m\", \"a\"", nullptr},
    };
    for (const ListCase& c : cases) {
        standin_reset();
        std::wstring script = L"CVEXT.RaiseEvent \"id\", " + c.lists + tail;
        ScriptResult r = runMain(script);
        EXPECT_EQ(r.ret, 1) << script;
        EXPECT_EQ(journal(), c.args ? Lines{call("RaiseEvent", c.args)} : Lines{}) << script;
    }
}

TEST_F(EventsTest, RaiseEventReadsArraysHeldInVariablesAndNullObject) {
    ScriptResult r = runMain(
        L"Dim c, s, m(1), a\n"
        L"c = Array(1, 2): s = Array(3, 4): m(0) = \"x\": m(1) = \"y\": a = Array(\"p\", \"q\")\n"
        L"CVEXT.RaiseEvent \"NULL\", 2, c, s, m, a, \"NULL\", 0, 3, \"NULL\", \"NULL\", False\n");
    EXPECT_EQ(r.ret, 1);
    EXPECT_EQ(journal(), Lines{call("RaiseEvent", R"(null,2,[1,2],[3,4],null,0.0,["x","y"],null,3,["p","q"],null,0)")});
}

TEST_F(EventsTest, RaiseEventSucceedsWhateverHappens) {
    Variant one;
    V_VT(&one) = VT_I4;
    V_I4(&one) = 1;
    Variant text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"m");
    // listlen 0 returns at once, even without a job on the thread.
    EXPECT_EQ(ext->RaiseEvent(nullptr, 0, one, one, text, text, nullptr, 0, 0, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(ext->RaiseEvent(nullptr, 1, one, one, text, text, nullptr, 0, 0, nullptr, nullptr, 0), S_FALSE);
    EXPECT_EQ(journal(), Lines{});

    BoundJob job(kJob, kPwd);
    standin_setResult("RaiseEvent", 0);
    EXPECT_EQ(ext->RaiseEvent(nullptr, 1, one, one, text, text, nullptr, 0, 0, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(ext->RaiseEvent(nullptr, 2, one, one, text, text, nullptr, 0, 0, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(calls("RaiseEvent").size(), 1u);
}

// Aborts ------------------------------------------------------------------------

TEST_F(EventsTest, AbortArgumentsReachMCAbort) {
    const Case cases[] = {
        // No object, message or severity: no event.
        {L"CVEXT.AbortScript", "MCAbort", R"(-1,null,null,0,-1,1,null,null)"},
        {L"CVEXT.AbortScript \"NULL\", \"NULL\", -1, False", "MCAbort", R"(-1,null,null,0,0,1,null,null)"},
        // Any of them asks for one.
        {L"CVEXT.AbortScript \"obj\"", "MCAbort", R"(-1,"obj",null,1,-1,1,null,null)"},
        {L"CVEXT.AbortScript \"NULL\", \"msg\"", "MCAbort", R"(-1,null,"msg",1,-1,1,null,null)"},
        {L"CVEXT.AbortScript \"NULL\", \"NULL\", 2", "MCAbort", R"(2,null,null,1,-1,1,null,null)"},
        {L"CVEXT.AbortScriptEx \"KB\", \"<x/>\"", "MCAbort", R"(-1,null,null,0,-1,1,"KB","<x/>")"},
        {L"CVEXT.AbortScriptEx \"KB\", \"NULL\", \"o\", \"m\", 3, False", "MCAbort", R"(3,"o","m",1,0,1,"KB",null)"},
        // MCAbort takes the event flag from the script and has no interrupt flag.
        {L"CVEXT.MCAbort \"o\", \"m\"", "MCAbort", R"(-1,"o","m",-1,-1,null,null,null)"},
        {L"CVEXT.MCAbort \"NULL\", \"m\", 3, False, False", "MCAbort", R"(3,null,"m",0,0,null,null,null)"},
    };
    for (const Case& c : cases) {
        standin_reset();
        ScriptResult r = runMain(std::wstring(c.script) + L"\n" + mark(L"after"));
        EXPECT_EQ(r.ret, 1) << c.script;
        EXPECT_EQ(journal(), Lines{call(c.op, c.args)}) << c.script;
    }
}

// Whether the script goes on after the abort: it ends at once, reports no
// script error and counts as a successful run, unless the core refused (or
// cleared the interrupt flag) for AbortScript; MCAbort ends it regardless.
// Under On Error Resume Next the platform's engine carries on with the
// script's own statements, but none of its later calls reaches the core:
// each leaves a trace line instead.
TEST_F(EventsTest, AbortEndsTheScriptAtOnceUnlessTheCoreDeclines) {
    struct StopCase {
        const wchar_t* abort;
        long coreResult;
        const char* coreText;
        bool stops;
    };
    const StopCase cases[] = {
        {L"CVEXT.AbortScript", 1, "keep", true},
        {L"CVEXT.AbortScriptEx \"KB\", \"M\"", 1, "keep", true},
        {L"CVEXT.MCAbort \"o\", \"m\"", 1, "keep", true},
        {L"CVEXT.MCAbort \"o\", \"m\"", 0, "keep", true},
        {L"CVEXT.AbortScript", 0, "keep", false},
        {L"CVEXT.AbortScriptEx \"KB\", \"M\"", 0, "keep", false},
        {L"CVEXT.AbortScript", 1, "clear", false},
    };
    for (const StopCase& c : cases) {
        for (bool resumeNext : {false, true}) {
            standin_reset();
            standin_setResult("MCAbort", c.coreResult);
            standin_setText("MCAbort", c.coreText);
            std::wstring script = std::wstring(resumeNext ? L"On Error Resume Next\n" : L"") +
                                  mark(L"before") + L"\n" + c.abort + L"\n" + mark(L"after") + L"\n" +
                                  L"CVEXT.RaiseEvent \"id\", 1, 1, 1, \"m\", \"a\", \"o\", 0, 0, \"d\", \"h\", 0\n" +
                                  mark(L"end");
            ScriptResult r = runMain(script);
            std::string label = std::string(resumeNext ? "resume next, " : "") + std::to_string(c.coreResult) +
                                " " + c.coreText;
            EXPECT_EQ(r.ret, 1) << label;
            // Each call the script goes on to make is refused with a trace
            // line; on an engine that took the interruption, the first of them
            // fails in the engine before it reaches ScpExt.
            Lines refused;
            if (c.stops && resumeNext)
                for (const char* member : {"MSActions", "RaiseEvent", "MSActions"})
                    refused.push_back(std::string("ScpExt-") + member + ": call refused, run " + std::to_string(kPwd) +
                                      " is being ended");
            if (c.stops && resumeNext && windowsLikeEngine()) refused.erase(refused.begin());
            EXPECT_EQ(traces(), refused) << label;
            EXPECT_EQ(calls("MCAbort").size(), 1u) << label;
            Lines expected = {marked("before")};
            if (!c.stops) expected = {marked("before"), marked("after"), marked("end")};
            EXPECT_EQ(calls("MSActions"), expected) << label;
            EXPECT_EQ(calls("RaiseEvent").size(), c.stops ? 0u : 1u) << label;
        }
    }
}

TEST_F(EventsTest, AnAbortedRunLeavesTheThreadsNextRunAlone) {
    ScriptResult aborted = runMain(L"CVEXT.AbortScript\n" + mark(L"lost"));
    EXPECT_EQ(aborted.ret, 1);
    standin_reset();
    ScriptResult next = runMain(mark(L"next") + L"\n" + mark(L"again"), 8, 8001);
    EXPECT_EQ(next.run, S_OK);
    EXPECT_EQ(next.ret, 1);
    EXPECT_EQ(calls("MSActions"), (Lines{call("MSActions", R"(0,"next","","","",-1.0,0,null,null)", 8, 8001),
                                         call("MSActions", R"(0,"again","","","",-1.0,0,null,null)", 8, 8001)}));
}

TEST_F(EventsTest, AnAbortStopsOnlyTheJobOfItsOwnThread) {
    // Job 2 keeps calling the core until the test lets it finish, which it
    // does only after job 1 has aborted itself on another thread.
    standin_setText("GetDataSources", "");
    ScriptResult other, self;
    std::thread waiting([&] {
        setUpComForTests();
        other = runMain(L"Dim s, n\n" + mark(L"b-start") + L"\n"
                        L"Do\n  CVEXT.FetchDataSources 0, s\n  n = n + 1\n"
                        L"Loop While UBound(s) < 0 And n < 200000\n" +
                        mark(L"b-end"), 2, 2001);
    });
    auto started = [] {
        for (const std::string& l : calls("MSActions"))
            if (l.find("b-start") != std::string::npos) return true;
        return false;
    };
    for (int i = 0; i < 2000 && !started(); ++i) Sleep(5);
    std::thread aborting([&] {
        setUpComForTests();
        self = runMain(mark(L"a-start") + L"\nCVEXT.AbortScript\n" + mark(L"a-after"), 1, 1001);
    });
    aborting.join();
    standin_setText("GetDataSources", "go");
    waiting.join();

    EXPECT_EQ(self.ret, 1);
    EXPECT_EQ(other.ret, 1);
    EXPECT_EQ(traces(), Lines{});
    Lines events = calls("MSActions");
    auto seen = [&](const char* text) {
        for (const std::string& l : events)
            if (l.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(seen("b-start"));
    EXPECT_TRUE(seen("a-start"));
    EXPECT_FALSE(seen("a-after"));
    EXPECT_TRUE(seen("b-end"));
    EXPECT_EQ(calls("MCAbort"), Lines{call("MCAbort", "-1,null,null,0,-1,1,null,null", 1, 1001)});
}

// The interruption itself, against engine doubles: one that can be
// interrupted and one that cannot. Either is asked to raise the marker on its
// current script thread, and either way the abort call and every later call
// of the same run end with the marker without reaching the core (a script
// may handle an interruption, or swallow the marker, and go on), each with a
// trace line. The job's next run starts afresh.
TEST_F(EventsTest, AnAbortAsksTheEngineAndEndsTheRunsLaterCallsOnEveryEngine) {
    constexpr DISPID kAbortScript = 9, kMSActions = 47, kMCAbort = 55;
    Bstr text(L"t");
    // Positional arguments go last first; the leading ones are numbers.
    auto invoke = [&](DISPID id, UINT strings, UINT numbers, EXCEPINFO& ei) {
        VARIANT args[8];
        UINT n = strings + numbers;
        for (UINT i = 0; i < n; ++i) {
            if (n - 1 - i < numbers) { V_VT(&args[i]) = VT_I4; V_I4(&args[i]) = 0; }
            else { V_VT(&args[i]) = VT_BSTR; V_BSTR(&args[i]) = text.get(); }
        }
        DISPPARAMS params = {args, nullptr, n, 0};
        ei = EXCEPINFO{};
        return ext->Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, &params, nullptr, &ei, nullptr);
    };
    auto expectMarker = [](HRESULT hr, const EXCEPINFO& ei) {
        EXPECT_EQ(hr, DISP_E_EXCEPTION);
        EXPECT_EQ(ei.wCode, 0xFFFF);
        EXPECT_EQ(ei.scode, static_cast<SCODE>(0xFFFFFFFF));
    };
    const std::string refused =
        "{\"trace\":\"ScpExt-MSActions: call refused, run " + std::to_string(kPwd) + " is being ended\"}";
    struct Case {
        HRESULT engineAnswer;
        DISPID abort;
        UINT strings;
        Lines core;
    };
    const Case cases[] = {
        {S_OK, kAbortScript, 0, {call("MCAbort", "-1,null,null,0,-1,1,null,null")}},
        {E_NOTIMPL, kMCAbort, 2, {call("MCAbort", R"(-1,"t","t",-1,-1,null,null,null)")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.engineAnswer == S_OK ? "interrupted" : "no interruption");
        standin_reset();
        InterruptRecorder engine(c.engineAnswer);
        BoundJob job(kJob, kPwd, &engine);
        EXCEPINFO ei;
        expectMarker(invoke(c.abort, c.strings, 0, ei), ei);
        ASSERT_EQ(engine.requests.size(), 1u);
        EXPECT_EQ(engine.requests[0].thread, SCRIPTTHREADID_CURRENT);
        EXPECT_EQ(engine.requests[0].wCode, 0xFFFF);
        EXPECT_EQ(engine.requests[0].scode, static_cast<SCODE>(0xFFFFFFFF));
        EXPECT_EQ(engine.requests[0].flags, static_cast<DWORD>(SCRIPTINTERRUPT_RAISEEXCEPTION));
        EXPECT_EQ(job.aborted(), 1);
        expectMarker(invoke(kMSActions, 4, 1, ei), ei);
        Lines expected = c.core;
        expected.push_back(refused);
        EXPECT_EQ(journal(), expected);

        job.rerun(kPwd);
        EXPECT_EQ(job.aborted(), 0);
        EXPECT_EQ(invoke(kMSActions, 4, 1, ei), S_OK);
        EXPECT_EQ(calls("MSActions"), Lines{call("MSActions", R"(0,"t","t","t","t",-1.0,0,null,null)")});
    }
}

TEST_F(EventsTest, AbortsWithoutAJobDoNothing) {
    Bstr text(L"t");
    EXPECT_EQ(ext->AbortScript(text.get(), text.get(), 1, 0), S_FALSE);
    EXPECT_EQ(ext->AbortScriptEx(text.get(), text.get(), text.get(), text.get(), 1, 0), S_FALSE);
    EXPECT_EQ(ext->MCAbort(text.get(), text.get(), 1, 0, 0), S_FALSE);
    EXPECT_EQ(ext->CreateEvent(1, text.get(), text.get(), text.get(), 0, text.get(), text.get(), 0, 0, 0), S_FALSE);
    EXPECT_EQ(journal(), Lines{});
}

// The list reader on its own, for the array shapes a script cannot easily
// make: typed arrays, references to arrays, other lower bounds, more than one
// dimension.
TEST(VariantListTest, ReadsTheFirstDimensionOfVariantArraysOnly) {
    // A VARIANT array with the given dimensions (first dimension first),
    // holding 16-bit integers 1, 2, 3, ... in storage order.
    auto makeArray = [](std::vector<SAFEARRAYBOUND> dims) {
        SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, static_cast<UINT>(dims.size()), dims.data());
        SafeArrayData data(a);
        ULONG total = 1;
        for (auto& d : dims) total *= d.cElements;
        for (ULONG i = 0; i < total; ++i) {
            V_VT(&data.as<VARIANT>()[i]) = VT_I2;
            V_I2(&data.as<VARIANT>()[i]) = static_cast<SHORT>(i + 1);
        }
        return a;
    };
    auto read = [](const VARIANT& v) {
        std::vector<long> out;
        auto list = ReadVariantList(&v, ValueKind::Long);
        if (!list) out.push_back(-999);
        else for (unsigned long i = 0; i < list->count(); ++i) out.push_back(list->longs()[i]);
        return out;
    };
    Variant plain, byRefArray, byRefVariant, lowered, twoDims, emptyDim, typed;
    V_VT(&plain) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&plain) = makeArray({{3, 0}});
    EXPECT_EQ(read(plain), (std::vector<long>{1, 2, 3}));
    SAFEARRAY* shared = V_ARRAY(&plain);
    V_VT(&byRefArray) = VT_BYREF | VT_ARRAY | VT_VARIANT;
    V_ARRAYREF(&byRefArray) = &shared;
    EXPECT_EQ(read(byRefArray), (std::vector<long>{1, 2, 3}));
    V_VT(&byRefVariant) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&byRefVariant) = &plain;
    EXPECT_EQ(read(byRefVariant), (std::vector<long>{1, 2, 3}));
    V_VT(&lowered) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&lowered) = makeArray({{2, 5}});
    EXPECT_EQ(read(lowered), (std::vector<long>{1, 2}));
    // A 2 x 3 array gives its first two elements in storage order.
    V_VT(&twoDims) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&twoDims) = makeArray({{2, 0}, {3, 0}});
    EXPECT_EQ(read(twoDims), (std::vector<long>{1, 2}));
    V_VT(&emptyDim) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&emptyDim) = makeArray({{2, 0}, {0, 0}});
    EXPECT_EQ(read(emptyDim), (std::vector<long>{-999}));
    SAFEARRAYBOUND four = {4, 0};
    V_VT(&typed) = VT_ARRAY | VT_I4;
    V_ARRAY(&typed) = SafeArrayCreate(VT_I4, 1, &four);
    EXPECT_EQ(read(typed), (std::vector<long>{-999}));
}

}  // namespace
