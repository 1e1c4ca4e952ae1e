' Every method of the extension object, each called once, in dispatch-
' identifier order, so that one run's journal shows what each of them hands
' to the agent core. Two exceptions to the order: ZTrace comes after the
' others, carrying what the methods without a core call answered, and the
' three abort methods come last, MCAbort at the very end because it always
' ends the script. The runner is started with MCAbort.text=clear: the core
' then ends the job itself, so AbortScriptEx and AbortScript return to the
' script instead of stopping it.
'
' No core call, so no journal line: GetTempFileName, Item, ItemCount,
' GetObjList and GetParameter. Calls of the agent rather than of the job,
' journalled without a job: setStandAlone, GetAgentInfo and MCUpdateKey.
Option Explicit

Sub main()
    Dim prodtype, verstr, idir, jobid, interval, machine, tmpfile, progid, iteration
    Dim item, items, objitem, objitems, objlist, param, secval, imported
    Dim waited, entered, errmsg, ok, compver, kpinterval, ctxval, moid
    Dim sources, code, dictval, tuples, count, plain, newcount, days

    CVEXT.setStandAlone
    CVEXT.CreateEvent 15, "disk C: almost full", "NULL", "C:", 91.5, "91.5% used", "NULL", 0, 0
    CVEXT.CreateData "Disk", "Disk used", "NULL", "C:", 91.5, "C: 91.5% used", 0
    CVEXT.GetAgentInfo prodtype, verstr, idir
    jobid = CVEXT.GetJobID()
    interval = CVEXT.GetScriptInterval()
    machine = CVEXT.GetMachName()
    ' The folder must exist: the platform refuses a missing one even when
    ' the unique number spares it creating the file.
    tmpfile = CVEXT.GetTempFileName("C:\windows\temp", "all", 10)
    CVEXT.GetVersion "C:\agent\bin\agent.exe", verstr
    progid = CVEXT.GetProgID("Agent.Probe", "2.1")
    iteration = CVEXT.IterationCount()
    item = CVEXT.Item("red;green;blue", 2, ";")
    items = CVEXT.ItemCount("red;green;blue", ";")
    objitem = CVEXT.GetObjItem("", "Disks", 1)
    objitems = CVEXT.GetObjItemCnt("", "Disks")
    objlist = CVEXT.GetObjList("", "Disks")
    param = CVEXT.GetParameter("threshold")
    ok = CVEXT.GetSecurityContext("ops", "db", "account", secval)
    ok = CVEXT.ExportData("lastFree", 8.5)
    ok = CVEXT.ImportData("lastFree", imported)
    waited = CVEXT.CVSleep(10)
    waited = CVEXT.WaitForObject(42, 10)
    entered = CVEXT.MCEnterCS()
    CVEXT.MCExitCS
    ok = CVEXT.IsMCAction()
    ok = CVEXT.IsActionAllow(2, 24, errmsg)
    ok = CVEXT.UpdateAction()
    ok = CVEXT.MCRebootNT("patch window", 60, False, True, errmsg)
    ok = CVEXT.MCInCluster()
    ok = CVEXT.MCIsActionRunning("CleanTemp")
    ok = CVEXT.MCEnableComm()
    ok = CVEXT.MCDisableComm(True)
    ok = CVEXT.MCEnableUpload(3)
    ok = CVEXT.MCUpload(3)
    ok = CVEXT.MCSetCommType(1, errmsg)
    ok = CVEXT.MCConfigNetFlow(80, 20, 30, True, errmsg)
    ok = CVEXT.MCSetPrimaryMS("ms1", errmsg, "ms2", 1)
    ok = CVEXT.MCSetMasterMC("Cluster", "mc1", errmsg)
    ok = CVEXT.MCSetBlackOut("Cluster", errmsg)
    ok = CVEXT.MCSetResRequired("Cluster", "disk,net", "spooler", errmsg)
    ok = CVEXT.MCCompactDB(errmsg)
    CVEXT.RaiseEvent "disk-check", 1, 1, 25, "disk C: full", "CleanTemp", "C:", 99.0, 0, "99% used", "NULL", False
    CVEXT.DynaCollectData "Disk", "Disk used", "NULL", "D:", 40.0, "D: 40% used", 0
    ' The reply is an [out] BSTR. A script variable reaches it as a reference
    ' to a Variant, which is refused with error 13 (type mismatch) before the
    ' method runs. A literal, or an expression such as (reply), becomes a
    ' string of the call's own: the call goes through and the reply is lost.
    ok = CVEXT.MCUpdateKey("C:\agent\new.key", "s3cret", "")
    CVEXT.MSActions 5, "backup finished", "NULL", "Backup", "all volumes"
    CVEXT.MSLongActions 5, "backup report", "NULL", "Backup", "C:\temp\report.txt", False
    CVEXT.DataHeader "Latency", 2, 7
    CVEXT.LongDataHeader "Latency", 2, 7, 100, 255, 1, 500.0, 0.0, 400.0, 50.0
    CVEXT.DataLog 7, 12.5, "12.5 ms"
    CVEXT.LongDataLog "Latency", 13.5, "C:\temp\latency.txt", False
    CVEXT.DynaDataLog 7, "Latency", 14.5, "14.5 ms"
    CVEXT.LongDynaDataLog 7, "Latency", 15.5, "C:\temp\latency.txt"
    CVEXT.MCVersion "agent", compver, True
    kpinterval = CVEXT.GetKPInterval()
    CVEXT.GetContextEx "Service", "Spooler", "NULL", "NULL", "State", ctxval
    moid = CVEXT.MCGetMOID("Agent.Probe", "2.1")
    ok = CVEXT.MCConfigPrimaryMS("ms1", "ms2", "NULL", 0, errmsg)
    CVEXT.FetchDataSources 1, sources
    CVEXT.CreateProxyEvent 25, "router down", "NULL", "router7"
    code = CVEXT.DictionaryInsertValue("owner", "ops")
    code = CVEXT.DictionaryRetrieveValue("owner", dictval)
    count = CVEXT.DictionaryRetrieveAllValues(tuples)
    count = CVEXT.DictionaryRetrieveByPattern("own*", tuples)
    code = CVEXT.DictionaryRemoveValue("owner")
    code = CVEXT.EventXMLToPlainText("<event>disk full</event>", plain)
    code = CVEXT.SampleLock(3, 0, newcount)
    code = CVEXT.AcquireLock(3)
    CVEXT.CreateEventEx "KB-17", "<meta/>", 15, "disk D: almost full", "NULL", "D:", 90.0, "90% used", "NULL", 0, 0
    CVEXT.CreateDataEx "KB-17", "<meta/>", "Disk", "Disk used", "NULL", "D:", 90.0, "D: 90% used", 0
    waited = CVEXT.WaitForObjectEx(43, 10)
    days = CVEXT.cvDiffDateFromString("2024-03-01", "2024-02-01")

    CVEXT.ZTrace "item=" & item & " items=" & CStr(items) & " tmp=" & tmpfile & _
        " param=" & TypeName(param) & " objlist=[" & objlist & "]"

    CVEXT.AbortScriptEx "KB-17", "<meta/>", "C:", "giving up"
    CVEXT.AbortScript "C:", "disk check aborted"
    CVEXT.MCAbort "C:", "disk check ended"
End Sub
