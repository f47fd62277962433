#pragma once

#include <windows.h>

#include <string>

#include "snapshot/Snapshot.h"

// What is wrong with a file that does not open as a snapshot, for a message
// that says so. `where` names the place in the snapshot ("devices[17].type"),
// `number` a version, a limit or a byte offset, as the kind says.
struct SnapshotProblem {
    enum Kind {
        None,
        CannotRead,      // `number`: the system's error code
        TooLarge,        // `number`: the limit in bytes
        NotJson,         // `number`: the byte offset
        Truncated,
        InvalidUtf8,     // `number`: the byte offset
        OtherFormat,
        NewerVersion,    // `number`: the file's version
        WrongType,       // `where`: the member
        Missing,         // `where`: the member
        Duplicate,       // `where`: the member given twice
        BeyondLimit,     // `where`: what; `number`: the limit
        BadValue,        // `where`: the member
        NoDevices,
        NoRoot,
        SecondRoot,      // `where`: the device
        DuplicateHandle, // `where`: the device
        DuplicateId,     // `where`: the device
        UnknownParent,   // `where`: the device
        Cycle,           // `where`: the device
        TooDeep,         // `where`: the device; `number`: the limit
        DuplicateClass,
    };
    Kind kind = None;
    std::wstring where;
    unsigned long long number = 0;
};

class SnapshotReader {
public:
    // Reads a snapshot's JSON text into `snapshot` (replaced) and indexes
    // it; 0 with `problem` set for anything that is not a sound snapshot of
    // this format version within the limits of Snapshot.
    [[nodiscard]] static int Read(const char* text, size_t size, Snapshot& snapshot, SnapshotProblem& problem);
    // The same for a file; the file is only read.
    [[nodiscard]] static int ReadFile(const wchar_t* path, Snapshot& snapshot, SnapshotProblem& problem);
};
