#pragma once

#include <windows.h>
#include <devpropdef.h>

#include "services/WideString.h"

// The property keys the system publishes by name, in their fixed order.
struct PropertyKeyName {
    const wchar_t* name;
    GUID formatId;
    ULONG propertyId;
    // The key carries a second name that is the one shown.
    bool neverShown;
};

class PropertyKeyNames {
public:
    static const int Count = 398;
    static const PropertyKeyName* Table();
    // The name shown for `key`, or nullptr when the key has no name.
    static const wchar_t* Find(const DEVPROPKEY& key);
};

// The "Key" text ("{GUID} [pid]") and the "Key Details" name of a key.
void KeyText(const DEVPROPKEY& key, WideString& keyText, WideString& keyName);
