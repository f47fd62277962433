#pragma once

#include <windows.h>

#include "services/WideString.h"

class DeviceTree;

// The text forms of typed data shown in the property list's Value column.

// The braced, upper-case form of a GUID (38 characters). On failure `text`
// is left as it was.
int GuidText(const GUID& guid, WideString& text);

// Registry data of any REG_ type as one text; never fails.
void FormatRegistryValue(const BYTE* data, DWORD size, DWORD type, WideString& value);

// Appends the locale form of `time` (flags as for SHFormatDateTimeW; 5 is
// short time with long date). The time is shown as stored, not shifted into
// the local time zone.
void FormatDateTime(WideString& text, DWORD flags, const SYSTEMTIME& time);

// The setup class name when `value` is the braced GUID of a setup class,
// else empty.
void ValueDetails(const DeviceTree& tree, const WideString& value, WideString& details);
