#pragma once

#include <windows.h>

#include "services/WideString.h"
#include "snapshot/SnapshotReader.h"
#include "ui/StringTable.h"

// The main window's texts about snapshots, in the language of `strings`.
namespace SnapshotMessages {

// Why `path` does not open: "The snapshot <path> cannot be opened: <why>".
void NotOpened(StringTable& strings, const wchar_t* path, const SnapshotProblem& problem,
               WideString& text);
// Why no private hive could be had for a snapshot.
void NoHive(StringTable& strings, const wchar_t* path, DWORD error, WideString& text);
// Why `path` could not be written.
void NotSaved(StringTable& strings, const wchar_t* path, DWORD error, WideString& text);
// The caption while a snapshot is shown: the program's caption, the file's
// name, the computer and the time it was taken.
void Caption(StringTable& strings, const wchar_t* programCaption, const wchar_t* path,
             const std::wstring& computer, const std::wstring& taken, WideString& text);

// The caption while a comparison is shown: the caption of what is shown,
// the snapshot compared with (name, computer, time), the counts of new,
// removed and changed devices, and whether only the changed are shown.
void ComparisonCaption(StringTable& strings, const wchar_t* shownCaption, const wchar_t* path,
                       const SnapshotHeader& compared, const int (&counts)[3], bool changedOnly,
                       WideString& text);

} // namespace SnapshotMessages
