#pragma once

#include <windows.h>

#include "services/WideString.h"
#include "ui/VersionText.h"

// The small rules of the update check, kept apart from its thread and its
// windows so that each can be checked on its own.

// Seconds between two checks: one week.
static const DWORD UpdateCheckInterval = 604800;
// A last-check time of this value asks for one start without a check.
static const DWORD UpdateCheckSkipOnce = 0xFFFFFFFF;

// The current time in seconds since 1970, cut to 32 bits.
DWORD CurrentUnixTime();
// Whether a check last made at `last` is due at `now`: more than a week
// later. A last check in the future (a clock that was set back since)
// counts as due, so that it cannot silence the check until that date.
bool IsCheckDue(DWORD last, DWORD now);

// `name` with `suffix` put before its extension. The extension starts at the
// last dot after the last blank, slash or backslash and ends before any "?";
// it is taken off the name only when it has at most three characters after
// the dot, and always appended after the suffix: "tool.exe" gives
// "tool_new.exe", "data.json" gives "data.json_new.json".
[[nodiscard]] int InsertBeforeExtension(const wchar_t* name, const wchar_t* suffix, WideString& result);

// A version text, as the server offers it and as a program's "FileVersion"
// states it: "%u.%u" giving exactly two numbers, each within the 16 bits
// of a version resource's parts. Anything else is refused.
[[nodiscard]] int ParseVersionText(const wchar_t* text, VersionNumbers& version);
// The version of the program file `path` (none: the running executable):
// its "FileVersion" text (the German block first) read as above, or, when
// it has none, its fixed file version. 0 when the file states no version
// that can be read: no version is assumed in its place.
[[nodiscard]] int ReadProgramVersion(const wchar_t* path, VersionNumbers& version);
// Newer than `local`: a greater major number, or the same one and a greater
// minor, all parts compared in full.
bool IsNewerVersion(const VersionNumbers& offered, const VersionNumbers& local);
bool IsSameVersion(const VersionNumbers& a, const VersionNumbers& b);

// The server's texts arrive byte by byte widened; their bytes are UTF-8.
// Each character's low byte, decoded as UTF-8. A text that the parser has
// already decoded (it holds characters beyond U+00FF) or whose bytes are no
// valid UTF-8 is kept as it is.
int DecodeLowBytesAsUtf8(const wchar_t* text, WideString& decoded);

// The ISO 639 name of the user's language ("de", "en"), "en" when the
// system cannot name it.
void UpdateLanguageName(WideString& name);

// What the 64-bit build adds to its requests, so that the endpoint offers
// it the 64-bit release: "&arch=x64"; nothing for the 32-bit build, whose
// requests stay as they always were.
extern const wchar_t UpdateProcessorParameter[];
// The processor an update's signature names: "x86" or "x64".
extern const wchar_t UpdateArchitecture[];

// The check's request: the URL, "&" or "?" as it needs, then the version
// text and the machine identity; with `inventory` the inventory form that
// also carries the language, the item type and the item name. Either ends
// with UpdateProcessorParameter.
[[nodiscard]] int BuildUpdateQuery(const wchar_t* url, bool inventory, const wchar_t* versionText,
                     const wchar_t* machineId, const wchar_t* language, const wchar_t* itemType,
                     const wchar_t* itemName, WideString& query);

// Removes blanks, tabs and line breaks from both ends: answers are often
// indented.
void TrimBlanks(WideString& text);

// An address the help button may open: http:// or https:// and no
// control characters. Anything else from the network is never handed to
// the shell.
bool IsWebAddress(const wchar_t* text);
// A web address of the https scheme alone: all an update ever fetches.
bool IsHttpsAddress(const wchar_t* text);
// An endpoint a test build may ask: one whose host is the loopback
// ("127.x.x.x", "localhost", "[::1]") or lies under ".invalid".
bool IsTestEndpoint(const wchar_t* url);
