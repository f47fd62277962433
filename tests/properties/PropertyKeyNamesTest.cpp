#include <gtest/gtest.h>

#include "properties/PropertyKeyNames.h"

#include <objbase.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct PublishedKey {
    std::wstring name;
    std::wstring formatId;
    unsigned long propertyId;
};

// The published list is copied beside the test executable at build time.
std::vector<PublishedKey> ReadPublishedKeys()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file = path;
    file = file.substr(0, file.rfind(L'\\') + 1) + L"devpkey.tsv";
    std::ifstream in(std::string(file.begin(), file.end()));
    std::vector<PublishedKey> keys;
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::istringstream fields(line);
        std::string name, guid, pid;
        std::getline(fields, name, '\t');
        std::getline(fields, guid, '\t');
        std::getline(fields, pid, '\t');
        keys.push_back({std::wstring(name.begin(), name.end()),
                        std::wstring(guid.begin(), guid.end()), std::stoul(pid)});
    }
    return keys;
}

DEVPROPKEY Key(const wchar_t* guid, ULONG pid)
{
    DEVPROPKEY key;
    CLSIDFromString((LPCOLESTR)guid, &key.fmtid);
    key.pid = pid;
    return key;
}

std::wstring Details(const DEVPROPKEY& key)
{
    WideString text, name;
    KeyText(key, text, name);
    return name.Text();
}

} // namespace

TEST(PropertyKeyNames, TableMatchesThePublishedKeysRowForRow)
{
    std::vector<PublishedKey> published = ReadPublishedKeys();
    ASSERT_EQ((size_t)PropertyKeyNames::Count, published.size());
    const PropertyKeyName* table = PropertyKeyNames::Table();
    for (int i = 0; i < PropertyKeyNames::Count; ++i) {
        SCOPED_TRACE(published[i].name);
        EXPECT_EQ(published[i].name, table[i].name);
        WideString guid;
        wchar_t buffer[64];
        StringFromGUID2(table[i].formatId, buffer, 64);
        EXPECT_EQ(published[i].formatId, buffer);
        EXPECT_EQ(published[i].propertyId, table[i].propertyId);
    }
}

TEST(PropertyKeyNames, EveryKeyShowsExactlyOneNameAndSharedKeysShowTheTabledOne)
{
    const PropertyKeyName* table = PropertyKeyNames::Table();
    std::map<std::pair<std::wstring, ULONG>, std::vector<std::wstring>> byKey;
    std::set<std::wstring> shown;
    for (int i = 0; i < PropertyKeyNames::Count; ++i) {
        wchar_t buffer[64];
        StringFromGUID2(table[i].formatId, buffer, 64);
        byKey[{buffer, table[i].propertyId}].push_back(table[i].name);
        DEVPROPKEY key = {table[i].formatId, table[i].propertyId};
        shown.insert(Details(key));
    }
    EXPECT_EQ(PropertyKeyNames::Count - 11, (int)byKey.size());
    EXPECT_EQ(byKey.size(), shown.size()) << "two keys must never show the same name";

    const wchar_t* container = L"{78C34FC8-104A-4ACA-9EA4-524D52996E57}";
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_Category", Details(Key(container, 90)));
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_AlwaysShowDeviceAsConnected", Details(Key(container, 101)));
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_DiscoveryMethod", Details(Key(container, 52)));
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_IsNetworkDevice", Details(Key(container, 85)));
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_IsNotInterestingForDisplay", Details(Key(container, 74)));
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_IsShowInDisconnectedState", Details(Key(container, 68)));
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_RequiresUninstallElevation", Details(Key(container, 99)));
    EXPECT_EQ(L"DEVPKEY_DeviceContainer_UnpairUninstall", Details(Key(container, 98)));
    EXPECT_EQ(L"DEVPKEY_Device_TerminalLuid",
              Details(Key(L"{C50A3F10-AA5C-4247-B830-D6A6F8EAA310}", 2)));
    EXPECT_EQ(L"DEVPKEY_Device_Numa_Proximity_Domain",
              Details(Key(L"{540B947E-8B40-45BC-A8A2-6A0B894CBDA2}", 1)));
    EXPECT_EQ(L"DEVPKEY_InfraCast_Supported",
              Details(Key(L"{1506935D-E3E7-450F-8637-82233EBE5F6E}", 17)));
}

TEST(KeyText, WritesTheGuidAndTheIdentifierInBrackets)
{
    WideString text, name;
    KeyText(Key(L"{a45c254e-df1c-4efd-8020-67d146a850e0}", 2), text, name);
    EXPECT_STREQ(L"{A45C254E-DF1C-4EFD-8020-67D146A850E0} [2]", text.Text());
    EXPECT_STREQ(L"DEVPKEY_Device_DeviceDesc", name.Text());

    KeyText(Key(L"{A45C254E-DF1C-4EFD-8020-67D146A850E0}", 1000), text, name);
    EXPECT_STREQ(L"{A45C254E-DF1C-4EFD-8020-67D146A850E0} [1000]", text.Text());
    EXPECT_STREQ(L"", name.Text());

    KeyText(Key(L"{88AD39DB-0D0C-4A38-8435-4043826B5C91}", 0), text, name);
    EXPECT_STREQ(L"{88AD39DB-0D0C-4A38-8435-4043826B5C91} [0]", text.Text());
    EXPECT_STREQ(L"DEVPKEY_Device_PacketWakeSupported", name.Text());

    name.Assign(L"old");
    KeyText(Key(L"{01234567-89AB-CDEF-0123-456789ABCDEF}", 4294967295u), text, name);
    EXPECT_STREQ(L"{01234567-89AB-CDEF-0123-456789ABCDEF} [4294967295]", text.Text());
    EXPECT_STREQ(L"", name.Text());
}
