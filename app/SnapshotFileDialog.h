#pragma once

#include <windows.h>

#include <string>

#include "services/WideString.h"
#include "ui/StringTable.h"

// The system's Open and Save dialogs for snapshot files.
namespace SnapshotFileDialog {

// The file the user chose, or 0 when the dialog was cancelled. `folder` is
// where the dialog starts; `name` the proposed file name (Save only).
int AskOpen(HWND owner, StringTable& strings, const wchar_t* folder, WideString& path);
// The same, for the snapshot to compare with.
int AskCompare(HWND owner, StringTable& strings, const wchar_t* folder, WideString& path);
int AskSave(HWND owner, StringTable& strings, const wchar_t* folder, const wchar_t* name,
            WideString& path);

// "<computer> <yyyy-mm-dd>.quillmere.json", with the characters a file
// name cannot hold replaced.
void DefaultName(const std::wstring& computer, const SYSTEMTIME& date, WideString& name);
// The user's Documents folder; empty when it cannot be told.
void DocumentsFolder(WideString& folder);

} // namespace SnapshotFileDialog
