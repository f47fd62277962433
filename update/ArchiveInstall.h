#pragma once

#include "update/FileJournal.h"

// Extracts the ZIP archive `archive` into `directory`, restoring the stored
// paths and replacing existing files without asking. An archive is hostile
// input: a member whose path leaves the directory (absolute, a drive or any
// colon, "..") or names a device, two members for one file, sizes beyond
// ZipLimits, or bytes that do not match their size or CRC-32 refuse the
// whole archive. Every member is checked and written to a temporary file
// before any file of the directory is touched; every change goes through
// `journal`, so that a caller can undo all of it. 1 when every member is in
// place.
int InstallArchive(const wchar_t* archive, const wchar_t* directory, FileJournal& journal);
