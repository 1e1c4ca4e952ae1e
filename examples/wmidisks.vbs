' Disk-space check through WMI. Every local fixed disk (Win32_LogicalDisk
' with DriveType 3) logs its free space in percent to the "Free disk space"
' data stream, with the disk as the stream's dynamic legend and object and
' LIMIT_PERCENT as its low water mark; a disk below the mark raises a
' critical event naming it.
Option Explicit

Const LIMIT_PERCENT = 10
Const SEV_CRITICAL = 25
Const MSG_EVENT = 0
Const GB = 1073741824

Sub main()
    Dim wmi, disks, disk, freePercent, detail
    Set wmi = GetObject("winmgmts:{impersonationLevel=impersonate}!\\.\root\cimv2")
    Set disks = wmi.ExecQuery("SELECT DeviceID, FreeSpace, Size FROM Win32_LogicalDisk WHERE DriveType = 3")
    For Each disk In disks
        ' WMI hands 64-bit sizes over as text.
        freePercent = Round(100 * CDbl(disk.FreeSpace) / CDbl(disk.Size), 1)
        detail = disk.DeviceID & " has " & CStr(Round(CDbl(disk.FreeSpace) / GB, 1)) & " GB free"
        CVEXT.CreateData "Free disk space", "Free space (%)", disk.DeviceID, disk.DeviceID, freePercent, detail, 0, _
            "NULL", -1, LIMIT_PERCENT
        If freePercent < LIMIT_PERCENT Then
            CVEXT.CreateEvent SEV_CRITICAL, "Low disk space on " & disk.DeviceID, "NULL", disk.DeviceID, _
                freePercent, detail, "NULL", 0, MSG_EVENT
        End If
    Next
    CVEXT.ZTrace "disk check: " & CStr(disks.Count) & " fixed disks"
End Sub
