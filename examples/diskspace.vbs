' Disk-space check. For each volume in VOLUMES it logs the free space in
' percent to the "Free disk space" data stream, with the volume as the
' stream's dynamic legend and object and LIMIT_PERCENT as its low water mark,
' and raises a critical event when the free space is below that mark. The
' agent's context store has the figure where the agent measures the volume
' itself (label "Disk", value name "FreePercent"); otherwise the sizes come
' from the platform's file system object.
Option Explicit

Const VOLUMES = "C:;Z:"
Const LIMIT_PERCENT = 10
Const SEV_CRITICAL = 25
Const MSG_EVENT = 0

Sub main()
    Dim fso, count, i, volume, drive, freePercent, detail, known
    Set fso = CreateObject("Scripting.FileSystemObject")
    count = CVEXT.ItemCount(VOLUMES, ";")
    For i = 1 To count
        volume = CVEXT.Item(VOLUMES, i, ";")
        known = ""
        CVEXT.GetContextEx "Disk", volume, "NULL", "NULL", "FreePercent", known
        If IsNumeric(known) Then
            freePercent = CDbl(known)
            detail = volume & " has " & CStr(freePercent) & "% free, as the agent measured it"
        ElseIf fso.DriveExists(volume) Then
            Set drive = fso.GetDrive(volume)
            freePercent = Round(100 * drive.FreeSpace / drive.TotalSize, 1)
            detail = volume & " has " & CStr(Round(drive.FreeSpace / 1048576)) & " MB free"
        Else
            freePercent = -1
            CVEXT.ZTrace "disk check: no volume " & volume
        End If
        If freePercent >= 0 Then
            CVEXT.CreateData "Free disk space", "Free space (%)", volume, volume, freePercent, detail, 0, _
                "NULL", -1, LIMIT_PERCENT
            If freePercent < LIMIT_PERCENT Then
                CVEXT.CreateEvent SEV_CRITICAL, "Low disk space on " & volume, "NULL", volume, _
                    freePercent, detail, "NULL", 0, MSG_EVENT
            End If
        End If
    Next
End Sub
