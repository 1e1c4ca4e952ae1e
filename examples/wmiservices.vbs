' Service check through WMI. Every service that starts automatically
' (Win32_Service with StartMode "Auto") and is not running raises a warning
' event naming it; the number of those running goes to the "Services" data
' stream.
Option Explicit

Const SEV_WARNING = 15
Const MSG_EVENT = 0

Sub main()
    Dim wmi, services, service, running, stopped
    running = 0
    stopped = ""
    Set wmi = GetObject("winmgmts:\\.\root\cimv2")
    Set services = wmi.ExecQuery("SELECT Name, State FROM Win32_Service WHERE StartMode = 'Auto'")
    For Each service In services
        If service.State = "Running" Then
            running = running + 1
        Else
            CVEXT.CreateEvent SEV_WARNING, "Service " & service.Name & " is not running (" & service.State & ")", _
                "NULL", service.Name, 0, "state reported by WMI: " & service.State, "NULL", 0, MSG_EVENT
            If stopped <> "" Then stopped = stopped & ","
            stopped = stopped & service.Name
        End If
    Next
    CVEXT.CreateData "Services", "Services running", "NULL", stopped, running, _
        CStr(running) & " of " & CStr(services.Count) & " automatic services running", 0
End Sub
