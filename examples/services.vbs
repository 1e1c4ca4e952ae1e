' Service check. The agent keeps the names of the services this job watches
' in the job's virtual data object "WatchedServices", and each service's
' state in its context store (label "Service", value name "State"). Every
' service that is not running raises a warning event naming it; the number
' of running services goes to the "Services" data stream.
Option Explicit

Const SEV_WARNING = 15
Const MSG_EVENT = 0

Sub main()
    Dim count, i, service, state, running, stopped
    running = 0
    stopped = ""
    count = CVEXT.GetObjItemCnt("", "WatchedServices")
    For i = 1 To count
        service = CVEXT.GetObjItem("", "WatchedServices", i)
        state = ""
        CVEXT.GetContextEx "Service", service, "NULL", "NULL", "State", state
        If LCase(state) = "running" Then
            running = running + 1
        Else
            CVEXT.CreateEvent SEV_WARNING, "Service " & service & " is not running (" & state & ")", _
                "NULL", service, 0, "state reported by the agent: " & state, "NULL", 0, MSG_EVENT
            If stopped <> "" Then stopped = stopped & ","
            stopped = stopped & service
        End If
    Next
    CVEXT.CreateData "Services", "Services running", "NULL", stopped, running, _
        CStr(running) & " of " & CStr(count) & " watched services running", 0
    CVEXT.ZTrace "service check: " & CStr(running) & " of " & CStr(count) & " running"
End Sub
