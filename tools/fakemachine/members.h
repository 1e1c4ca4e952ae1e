// The members the fakes answer, per object as the journal names it ("fake":
// "OBJECT.MEMBER"), with their parameters in the script's order. The DLL
// dispatches by this table and the workbench checks a scenario's names
// against it; a member missing here raises "OBJECT.MEMBER is not faked".
// Plain data: nothing here depends on the DLL.
#pragma once

namespace fakes {

struct Member {
    const char* object;
    const char* name;
    const char* params[8];   // null after the last
};

// "_NewEnum" is what For Each calls; "Item" (and SWbemProperty's "Value") is
// the default member a script reaches without naming it.
inline constexpr Member kMembers[] = {
    // GetObject("winmgmts:...") and CreateObject("WbemScripting.SWbemLocator")
    {"WMI", "GetObject", {"moniker"}},
    {"WMI", "ConnectServer", {"strServer", "strNamespace", "strUser", "strPassword", "strLocale", "strAuthority",
                              "iSecurityFlags", "objWbemNamedValueSet"}},
    {"SWbemServices", "ExecQuery", {"strQuery", "strQueryLanguage", "iFlags", "objWbemNamedValueSet"}},
    {"SWbemServices", "InstancesOf", {"strClass", "iFlags", "objWbemNamedValueSet"}},
    {"SWbemServices", "Get", {"strObjectPath", "iFlags", "objWbemNamedValueSet"}},
    {"SWbemObjectSet", "_NewEnum", {}},
    {"SWbemObjectSet", "Count", {}},
    {"SWbemObjectSet", "ItemIndex", {"lIndex"}},
    // Besides these, an SWbemObject answers its row's properties by name.
    {"SWbemObject", "Properties_", {}},
    {"SWbemPropertySet", "_NewEnum", {}},
    {"SWbemPropertySet", "Count", {}},
    {"SWbemPropertySet", "Item", {"strName"}},
    {"SWbemProperty", "Name", {}},
    {"SWbemProperty", "Value", {}},

    {"FileSystemObject", "FileExists", {"FileSpec"}},
    {"FileSystemObject", "FolderExists", {"FolderSpec"}},
    {"FileSystemObject", "DriveExists", {"DriveSpec"}},
    {"FileSystemObject", "GetFile", {"FilePath"}},
    {"FileSystemObject", "GetFolder", {"FolderPath"}},
    {"FileSystemObject", "GetDrive", {"DriveSpec"}},
    {"FileSystemObject", "Drives", {}},
    {"FileSystemObject", "OpenTextFile", {"FileName", "IOMode", "Create", "Format"}},
    {"FileSystemObject", "BuildPath", {"Path", "Name"}},
    {"FileSystemObject", "GetFileName", {"Path"}},
    {"FileSystemObject", "GetBaseName", {"Path"}},
    {"FileSystemObject", "GetExtensionName", {"Path"}},
    {"FileSystemObject", "GetParentFolderName", {"Path"}},
    {"File", "Size", {}},
    {"File", "DateLastModified", {}},
    {"File", "Path", {}},
    {"File", "Name", {}},
    {"File", "OpenAsTextStream", {"IOMode", "Format"}},
    {"Folder", "Files", {}},
    {"Folder", "Path", {}},
    {"Folder", "Name", {}},
    {"Files", "_NewEnum", {}},
    {"Files", "Count", {}},
    {"Files", "Item", {"Key"}},
    {"TextStream", "ReadLine", {}},
    {"TextStream", "ReadAll", {}},
    {"TextStream", "Read", {"Characters"}},
    {"TextStream", "AtEndOfStream", {}},
    {"TextStream", "AtEndOfLine", {}},
    {"TextStream", "Line", {}},
    {"TextStream", "Skip", {"Characters"}},
    {"TextStream", "SkipLine", {}},
    {"TextStream", "Close", {}},
    {"Drive", "FreeSpace", {}},
    {"Drive", "AvailableSpace", {}},
    {"Drive", "TotalSize", {}},
    {"Drive", "DriveLetter", {}},
    {"Drive", "IsReady", {}},
    {"Drives", "_NewEnum", {}},
    {"Drives", "Count", {}},

    {"WScript.Shell", "RegRead", {"Name"}},
    {"WScript.Shell", "ExpandEnvironmentStrings", {"Src"}},
    {"WScript.Shell", "Environment", {"Type"}},
    {"Environment", "Item", {"Name"}},
};

}  // namespace fakes
