#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "snapshot/Snapshot.h"

// How the bytes of a value are spelled in a snapshot: the most readable form
// that gives back exactly the same bytes, else Base64. The type decides
// which forms it may take; the bytes decide whether they fit that form.
enum class ValueForm {
    Empty,   // no bytes: no data member
    Text,    // "text": one NUL-terminated UTF-16 string
    Texts,   // "texts": NUL-terminated strings and one more NUL
    Number,  // "number": an unsigned little-endian integer of the type's width
    Boolean, // "boolean": one byte, 0 or 0xFF
    Guid,    // "guid": the 16 bytes of a GUID
    Time,    // "time": the 8 bytes of a FILETIME, as UTC
    Base64,  // "base64": any bytes
};

// Registry data is typed by REG_ types, device properties by DEVPROPTYPEs.
enum class ValueKind { Registry, Property };

// The form `value` is written in.
ValueForm ChooseForm(ValueKind kind, const SnapshotValue& value);
// Whether a value of `type` may be spelled in `form` (Base64 always may).
bool FormSuitsType(ValueKind kind, DWORD type, ValueForm form);
// The byte width of the Number form for `type`, 0 when it has none.
int NumberWidth(ValueKind kind, DWORD type);

// Whether `text` is well-formed UTF-16: every surrogate in a pair.
bool IsWellFormedUtf16(const wchar_t* text, size_t length);

// The strings of the Text and Texts forms, read from the bytes (which must
// fit the form).
std::wstring TextOf(const std::vector<BYTE>& bytes);
std::vector<std::wstring> TextsOf(const std::vector<BYTE>& bytes);
// And back: the bytes of the forms.
void AppendTextBytes(std::vector<BYTE>& bytes, const std::wstring& text);
std::vector<BYTE> TextsBytes(const std::vector<std::wstring>& texts);

unsigned long long NumberOf(const std::vector<BYTE>& bytes);
std::vector<BYTE> NumberBytes(unsigned long long number, int width);

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} in upper case, and its reading
// (either case of hexadecimal digits); 0 for anything else.
std::string GuidString(const GUID& guid);
[[nodiscard]] int ParseGuidString(const char* text, size_t length, GUID& guid);

// FILETIME ticks as "2023-12-31T23:59:59.0000000Z"; 0 for a time after the
// year 9999, which has no such spelling.
[[nodiscard]] int TimeString(unsigned long long ticks, std::string& text);
// The exact spelling above back to ticks; 0 for anything else.
[[nodiscard]] int ParseTimeString(const char* text, size_t length, unsigned long long& ticks);
// A whole second of a SYSTEMTIME as "2026-12-09T08:21:00Z".
std::string SecondString(const SYSTEMTIME& time);
