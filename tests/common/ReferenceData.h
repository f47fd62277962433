#pragma once

#include "common/RecordingListSink.h"
#include "common/RecordingTreeSink.h"

#include <windows.h>

#include <string>

// Reference data of what the device model shows: whole trees and property
// lists as text, compared with files kept under tests/reference. Setting
// QUILL_WRITE_REFERENCE=1 writes the files instead, which is how they were
// first made; a refactoring of the model must leave them unchanged.
namespace ReferenceData {

// One line per item, depth first: indentation by depth, the text, the
// identity of its image, the node's status and problem, the child flag.
std::string TreeText(const RecordingTreeSink& tree);
// One line per row: group id and the four texts.
std::string RowsText(const RecordingListSink& list);

// An identity of the picture of an icon (a hash of its colour and mask
// bits), equal for icons that look the same whatever their handles.
std::string IconIdentity(HICON icon);

// Compares `actual` with the reference file `name`; on a difference, says
// where in `difference`. In write mode the file is (re)written and the
// comparison succeeds.
bool Matches(const char* name, const std::string& actual, std::string& difference);
// The same as a test expectation that names the difference.
void ExpectMatches(const char* name, const std::string& actual);

// A short digest of a long text, for references too large to keep whole.
std::string Digest(const std::string& text);

// The full path of a file beside the test executables (the machines).
std::wstring BesideExe(const wchar_t* file);

} // namespace ReferenceData
