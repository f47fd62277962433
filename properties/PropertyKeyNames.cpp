#include "properties/PropertyKeyNames.h"
#include "properties/ValueFormat.h"

namespace {

const PropertyKeyName Names[] = {
#include "properties/PropertyKeyTable.inc"
};

static_assert(sizeof(Names) / sizeof(Names[0]) == PropertyKeyNames::Count,
              "the name table has one row per published key");

} // namespace

const PropertyKeyName* PropertyKeyNames::Table()
{
    return Names;
}

const wchar_t* PropertyKeyNames::Find(const DEVPROPKEY& key)
{
    for (const PropertyKeyName& row : Names)
        if (!row.neverShown && row.propertyId == key.pid && IsEqualGUID(row.formatId, key.fmtid))
            return row.name;
    return nullptr;
}

void KeyText(const DEVPROPKEY& key, WideString& keyText, WideString& keyName)
{
    keyName.Clear();
    if (const wchar_t* name = PropertyKeyNames::Find(key))
        keyName.Assign(name);
    WideString guid;
    GuidText(key.fmtid, guid);
    keyText.Format(L"%s [%u]", guid.Text(), (unsigned)key.pid);
}
