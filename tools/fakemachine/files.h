// The file system objects: FileSystemObject with its files, folders and
// text streams, and the drives, answering from the machine's "files" and
// "drives". Nothing here reads or writes the real disk.
#pragma once

#include "fake.h"

namespace fakes {

// CreateObject("Scripting.FileSystemObject").
Fake* newFileSystem();

// A stream reading `text` (the machine's, which outlives it) from its start.
Fake* newTextStream(const std::wstring* text);

Fake* newDrive(const DriveEntry* drive);
Fake* newDrives(unsigned run);

// The file system's error numbers, as the script runtime words them.
enum FileError { kBadArgument = 5, kFileNotFound = 53, kPastEnd = 62, kDeviceUnavailable = 68, kPathNotFound = 76 };
ScriptError fileError(FileError number);

}  // namespace fakes
