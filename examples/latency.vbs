' Temp-folder latency check. Three times per run, a second apart, it writes a
' small file to the temp folder, reads it back and deletes it, and logs the
' round trip in milliseconds to the "Temp folder latency" data stream, which
' it declares with a high water mark of WARN_MS. A sample above the mark
' raises a warning event naming the folder.
Option Explicit

Const STREAM = "Temp folder latency"
Const SAMPLES = 3
Const PAUSE_MS = 1000
Const WARN_MS = 25
Const SEV_WARNING = 15
Const MSG_EVENT = 0

Sub main()
    Dim fso, folder, i, ms
    Set fso = CreateObject("Scripting.FileSystemObject")
    folder = fso.GetSpecialFolder(2).Path
    ' Legend, graph, stream, log limit, colour, style, maximum, minimum,
    ' high and low water marks (-1: none).
    CVEXT.LongDataHeader "Round trip (ms)", 0, STREAM, -1, 0, 0, 100, 0, WARN_MS, -1
    For i = 1 To SAMPLES
        If i > 1 Then CVEXT.CVSleep PAUSE_MS
        ms = RoundTrip(fso, folder)
        CVEXT.DataLog STREAM, ms, "4 KB written, read and deleted in " & CStr(ms) & " ms"
        If ms > WARN_MS Then
            CVEXT.CreateEvent SEV_WARNING, "Temp folder slow: " & CStr(ms) & " ms", "NULL", folder, ms, _
                "sample " & CStr(i) & " took more than " & CStr(WARN_MS) & " ms", "NULL", 0, MSG_EVENT
        End If
    Next
End Sub

Function RoundTrip(fso, folder)
    Dim started, path, f, text
    started = Timer
    path = fso.BuildPath(folder, fso.GetTempName())
    Set f = fso.CreateTextFile(path, True)
    f.Write String(4096, "x")
    f.Close
    Set f = fso.OpenTextFile(path, 1)
    text = f.ReadAll
    f.Close
    fso.DeleteFile path
    ' Timer counts seconds since midnight and starts again there.
    If Timer < started Then started = started - 86400
    RoundTrip = Round((Timer - started) * 1000, 1)
End Function
