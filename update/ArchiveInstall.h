#pragma once

#include "update/FileJournal.h"

// Stages the ZIP archive `archive` for installation into `directory`,
// restoring the stored paths and replacing existing files without asking.
// An archive is hostile input: a member whose path leaves the directory
// (absolute, a drive or any colon, "..") or names a device, two members for
// one file, sizes beyond ZipLimits, a program or library built for another
// processor, or bytes that do not match their size or CRC-32 refuse the
// whole archive. Every member is checked and written to a working file
// beside its target and the renames that put them in place are planned in
// `journal` (begun by the caller); nothing of the directory changes before
// journal.Swap(). The member `keptName` (a relative path, or none) keeps
// the file it replaces as its "_old" copy; other replaced files go at
// journal.Finish(). 1 when every member is staged.
[[nodiscard]] int StageArchive(const wchar_t* archive, const wchar_t* directory, const wchar_t* keptName,
                 FileJournal& journal);
