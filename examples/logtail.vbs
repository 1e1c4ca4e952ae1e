' Log-tail check. Each run reads the application's log from the line after
' the last one the previous run read (kept in the agent's export store as
' "AppLog.Lines") and raises a warning event for every new line with
' "ERROR" in it; the number of new error lines goes to the "Log errors"
' data stream.
Option Explicit

Const LOG_FILE = "C:\ProgramData\Acme\logs\app.log"
Const SEV_WARNING = 15
Const MSG_EVENT = 0
Const FOR_READING = 1

Sub main()
    Dim fso, stream, done, count, text, errors
    Set fso = CreateObject("Scripting.FileSystemObject")
    If Not fso.FileExists(LOG_FILE) Then
        CVEXT.ZTrace "log check: no " & LOG_FILE
        Exit Sub
    End If
    done = 0
    If CVEXT.ImportData("AppLog.Lines", done) = 0 Then done = 0
    Set stream = fso.OpenTextFile(LOG_FILE, FOR_READING)
    count = 0
    errors = 0
    Do While Not stream.AtEndOfStream
        text = stream.ReadLine
        count = count + 1
        If count > done And InStr(1, text, "ERROR", vbTextCompare) > 0 Then
            errors = errors + 1
            CVEXT.CreateEvent SEV_WARNING, "Error in the application log", "NULL", "app.log", 0, text, _
                "NULL", 0, MSG_EVENT
        End If
    Loop
    stream.Close
    CVEXT.ZTrace "log check: " & CStr(count - done) & " new lines, " & CStr(errors) & " with errors"
    CVEXT.ExportData "AppLog.Lines", count
    CVEXT.CreateData "Log errors", "New error lines", "app.log", "app.log", errors, _
        CStr(count) & " lines in the log", 0
End Sub
