// One script that calls every method of the extension object, run by
// ztolvera-run as a job: the journal must show each core call the methods
// make, in the script's order, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using Lines = std::vector<std::string>;

// tests/scripts/all_methods.vbs in the source tree, through drive Z:, which
// the build's Wine prefix maps to the Unix root.
std::wstring scriptPath() {
    std::string source = __FILE__;
    std::string path = "Z:" + source.substr(0, source.find_last_of('/') + 1) + "scripts/all_methods.vbs";
    std::replace(path.begin(), path.end(), '/', '\\');
    return std::wstring(path.begin(), path.end());
}

// The operation names of the core calls in a journal, in order.
Lines operations(const Lines& journal) {
    Lines ops;
    const std::string key = "\"op\":\"";
    for (const std::string& line : journal) {
        std::size_t at = line.find(key);
        if (at == std::string::npos) continue;
        at += key.size();
        ops.push_back(line.substr(at, line.find('"', at) - at));
    }
    return ops;
}

TEST(AllMethods, EveryMethodReachesTheCoreInTheScriptsOrder) {
    // The core ends the job itself on AbortScriptEx and AbortScript, so that
    // both return and MCAbort, which always ends the script, comes last.
    runner::Outcome o = runner::runRunner(L"--set MCAbort.text=clear \"" + scriptPath() + L"\"");
    ASSERT_EQ(o.status, 0u) << o.err;
    EXPECT_EQ(o.out, "job 1 all_methods.vbs: compiled, runs 1, succeeded 1, script errors 0, core calls 67\n");

    // GetTempFileName, Item, ItemCount, GetObjList and GetParameter call no
    // core operation. Where an operation's name differs from the method's,
    // the method is named beside it.
    EXPECT_EQ(operations(o.journal), (Lines{
        "setStandAlone", "MSActions" /* CreateEvent */, "DynaCollectData" /* CreateData */, "GetAgentInfo",
        "GetJobID", "GetKPInterval" /* GetScriptInterval */, "GetMachName", "MCVersion" /* GetVersion */,
        "MCGetMOID" /* GetProgID */, "IterationCount", "MCGetVirDataItem" /* GetObjItem */,
        "MCGetVirDataItemCnt" /* GetObjItemCnt */, "GetContextEx" /* GetSecurityContext */,
        "MCExport" /* ExportData */, "MCImport" /* ImportData */, "MCSleep" /* CVSleep */,
        "MCWaitForObject" /* WaitForObject */, "MCEnterCS", "MCExitCS",
        "IsMCAction", "IsActionAllow", "UpdateAction", "MCRebootNT", "MCInCluster",
        "IsMCActionRunning" /* MCIsActionRunning */, "MCEnableComm", "MCDisableComm", "MCEnableUpload", "MCUpload",
        "MCSetCommType", "MCConfigNetFlow", "MCPrimaryMS" /* MCSetPrimaryMS */, "MCSetMasterMC", "MCSetBlackOut",
        "MCSetResRequired", "MCCompactDB",
        "RaiseEvent", "DynaCollectData", "MCUpdateKey", "MSActions", "MSLongActions",
        "DataHeader", "LongDataHeader", "DataLog", "LongDataLog", "DynaDataLog", "LongDynaDataLog",
        "MCVersion", "GetKPInterval", "GetContextEx", "MCGetMOID", "MCPrimaryMS" /* MCConfigPrimaryMS */,
        "GetDataSources" /* FetchDataSources */, "MSActions" /* CreateProxyEvent */,
        "DictionaryInsertValue", "DictionaryRetrieveValue", "DictionaryRetrieveAllValues",
        "DictionaryRetrieveByPattern", "DictionaryRemoveValue", "EventXMLToPlainText", "SampleLock", "AcquireLock",
        "MSActions" /* CreateEventEx */, "DynaCollectData" /* CreateDataEx */,
        "MCWaitForObjectOffline" /* WaitForObjectEx */, "DiffDateFromString" /* cvDiffDateFromString */,
        "ZTrace", "MCAbort" /* AbortScriptEx */, "MCAbort" /* AbortScript */, "MCAbort",
    }));

    const Lines representative = {
        R"({"op":"setStandAlone","args":[]})",
        R"({"job":1,"op":"MSActions","ctx":[1,1001],"args":[15,"disk C: almost full",null,"C:","91.5% used",91.5,0,null,null]})",
        R"({"op":"GetAgentInfo","args":["StandInAgent","1.0.0","C:\\agent"]})",
        R"({"job":1,"op":"RaiseEvent","ctx":[1,1001],"args":["disk-check",1,[1],[25],"C:",99.0,["disk C: full"],"99% used",0,["CleanTemp"],null,0]})",
        R"({"op":"MCUpdateKey","args":["C:\\agent\\new.key","***","key updated"]})",
        R"({"job":1,"op":"MSActions","ctx":[1,1001],"args":[25,"router down",null,"router7",null,-1.0,1,null,null]})",
        R"({"job":1,"op":"ZTrace","ctx":[1,1001],"args":["item=green items=3 tmp=C:\\windows\\temp\\alla.tmp param=Empty objlist=[]"]})",
        R"({"job":1,"op":"MCAbort","ctx":[1,1001],"args":[-1,"C:","disk check aborted",1,-1,0,null,null]})",
    };
    for (const std::string& line : representative)
        EXPECT_NE(std::find(o.journal.begin(), o.journal.end(), line), o.journal.end()) << line;

    // The script ends in MCAbort, and the run counts as a success.
    EXPECT_EQ(Lines(o.journal.end() - 4, o.journal.end()), (Lines{
        R"({"job":1,"op":"MCAbort","ctx":[1,1001],"args":[-1,"C:","disk check ended",-1,-1,null,null,null]})",
        R"({"job":1,"host":"run","hr":0,"ret":1})",
        R"({"job":1,"host":"stop","hr":0})",
        R"({"job":1,"host":"unreg","hr":0})",
    }));
    for (const std::string& line : o.journal) EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
}

}  // namespace
