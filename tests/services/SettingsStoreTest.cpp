#include <gtest/gtest.h>

#include "common/ScopedTestKey.h"
#include "common/TempDirectory.h"
#include "services/ModulePath.h"
#include "services/SettingsStore.h"

#include <string>

namespace {

void SetRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, (const BYTE*)data, size));
}

DWORD StoredType(HKEY root, const wchar_t* path, const wchar_t* name)
{
    HKEY key = nullptr;
    DWORD type = REG_NONE;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr);
        RegCloseKey(key);
    }
    return type;
}

const unsigned long long Big = 0x123456789ABCDEF0ULL;
const BYTE Block[5] = {5, 4, 3, 2, 1};

// What every back end must keep: numbers, texts and, where supported, blocks,
// in the main place and below a sub-key.
void WriteEverything(SettingsStore& store, bool blocks)
{
    EXPECT_TRUE(store.WriteNumber(L"Flags", 5));
    EXPECT_TRUE(store.WriteNumber(L"Big", Big));
    EXPECT_TRUE(store.WriteText(L"Main", L"0 0 640 480 \u00E9\u4E2D"));
    EXPECT_TRUE(store.WriteNumber(L"Width", 300, L"Splitter"));
    EXPECT_TRUE(store.WriteText(L"Name", L"inner", L"Splitter"));
    EXPECT_EQ(blocks, store.WriteBlock(L"ListView", Block, sizeof(Block)) != 0);
}

void ExpectEverything(SettingsStore& store, bool blocks)
{
    EXPECT_EQ(5u, store.ReadNumber(L"Flags", 99));
    EXPECT_EQ(Big, store.ReadNumber(L"Big", 99));
    EXPECT_EQ(300u, store.ReadNumber(L"Width", 99, L"Splitter"));
    EXPECT_EQ(99u, store.ReadNumber(L"Width", 99)); // not in the main place
    EXPECT_EQ(99u, store.ReadNumber(L"Missing", 99));
    WideString text;
    EXPECT_TRUE(store.ReadText(L"Main", text, L"dflt"));
    EXPECT_STREQ(L"0 0 640 480 \u00E9\u4E2D", text.Text());
    EXPECT_TRUE(store.ReadText(L"Name", text, nullptr, L"Splitter"));
    EXPECT_STREQ(L"inner", text.Text());
    BYTE back[5];
    EXPECT_EQ(blocks, store.ReadBlock(L"ListView", back, sizeof(back)) != 0);
    if (blocks) {
        EXPECT_EQ(0, memcmp(Block, back, sizeof(back)));
    }
}

} // namespace

TEST(SettingsStore, DefaultFileNamesKeepLongExtensions)
{
    struct Row {
        const wchar_t* executable;
        DWORD backEnd;
        const wchar_t* name;
    };
    const Row rows[] = {
        {L"C:\\bin\\tool.exe", SettingsStore::StoreIni, L"tool.ini"},
        {L"C:\\bin\\tool.exe", SettingsStore::StoreXml, L"tool.xml"},
        {L"C:\\bin\\tool.backup", SettingsStore::StoreIni, L"tool.backup.ini"},
        {L"C:/bin/tool.com", SettingsStore::StoreIni, L"tool.ini"},
        {L"C:\\v1.2\\tool", SettingsStore::StoreIni, L"tool.ini"},
        {L"tool.", SettingsStore::StoreIni, L"tool.ini"},
        {L"a.b", SettingsStore::StoreIni, L"a.ini"},
        {L"my.tool.exe", SettingsStore::StoreIni, L"my.tool.ini"},
    };
    for (const Row& row : rows) {
        WideString name;
        EXPECT_TRUE(SettingsStore::DefaultFileName(row.executable, row.backEnd, name)) << row.executable;
        EXPECT_STREQ(row.name, name.Text()) << row.executable;
    }
    WideString name;
    EXPECT_FALSE(SettingsStore::DefaultFileName(L"C:\\bin\\", SettingsStore::StoreIni, name));

    SettingsStore ini;
    ASSERT_TRUE(ini.Open(SettingsStore::StoreIni, nullptr, nullptr));
    EXPECT_STREQ(L"services_tests.ini", ini.FilePath());
    SettingsStore xml;
    TempDirectory directory(L"xmldefault");
    ASSERT_TRUE(xml.Open(SettingsStore::StoreXml, nullptr, L"", directory.File(L"s.xml").Text()));
    EXPECT_STREQ(L"services_tests", xml.KeyPath());
}

TEST(SettingsStore, NumbersParseLikeTheFormat)
{
    struct Row {
        const wchar_t* text;
        bool parses;
        unsigned long long value;
    };
    const Row rows[] = {
        {L"12abc", true, 12},
        {L"abc12", false, 0},
        {L"", false, 0},
        {L"  \t7", true, 7},
        {L"+3", true, 3},
        {L"-1", true, ~0ULL},
        {L"- 1", false, 0},
        {L"0x10", true, 0},
        {L"18446744073709551615", true, ~0ULL},
        {L"18446744073709551616", false, 0},
        {L"99999999999999999999999", false, 0},
    };
    for (const Row& row : rows) {
        unsigned long long value = 42;
        EXPECT_EQ(row.parses, SettingsStore::ParseNumber(row.text, &value) != 0) << row.text;
        EXPECT_EQ(row.parses ? row.value : 42u, value) << row.text;
    }
}

TEST(SettingsStore, RegistryRoundTrip)
{
    ScopedTestKey test(L"StoreRegistry");
    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreRegistry, test.Root(), test.Path()));
    WriteEverything(store, true);
    ExpectEverything(store, true);
    EXPECT_EQ((DWORD)REG_QWORD, StoredType(test.Root(), test.Path(), L"Big"));
    EXPECT_EQ((DWORD)REG_SZ, StoredType(test.Root(), test.Path(), L"Main"));
    EXPECT_EQ((DWORD)REG_BINARY, StoredType(test.Root(), test.Path(), L"ListView"));
    EXPECT_EQ((DWORD)REG_QWORD, StoredType(test.Root(), test.SubPath(L"Splitter"), L"Width"));
    store.Close();

    SettingsStore again;
    ASSERT_TRUE(again.Open(SettingsStore::StoreRegistry, test.Root(), test.Path()));
    ExpectEverything(again, true);
}

// Values written by hand or by other programs: anything that is not what
// the caller asked for reads as the caller's default.
TEST(SettingsStore, RegistryValuesOfTheWrongKindReadAsTheDefault)
{
    ScopedTestKey test(L"StoreCorrupt");
    HKEY key = test.Handle();
    DWORD five = 5;
    SetRaw(key, L"Dword", REG_DWORD, &five, 4);
    SetRaw(key, L"Text12abc", REG_SZ, L"12abc", 12);
    SetRaw(key, L"ShortText", REG_SZ, L"5", 4);
    BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    SetRaw(key, L"Binary8", REG_BINARY, eight, 8);
    SetRaw(key, L"Dword3", REG_DWORD, &five, 3);
    SetRaw(key, L"Qword4", REG_QWORD, &five, 4);
    SetRaw(key, L"Empty", REG_DWORD, nullptr, 0);
    const wchar_t multi[] = L"one\0two\0";
    SetRaw(key, L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
    const wchar_t odd[] = L"abc";
    SetRaw(key, L"OddSize", REG_SZ, odd, 5);
    BYTE six[6] = {1, 2, 3, 4, 5, 6};
    SetRaw(key, L"Block6", REG_BINARY, six, 6);
    SetRaw(key, L"TextBlock", REG_SZ, L"ab", 6);

    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreRegistry, test.Root(), test.Path()));
    EXPECT_EQ(5u, store.ReadNumber(L"Dword", 77));
    for (const wchar_t* name : {L"Text12abc", L"ShortText", L"Binary8", L"Dword3", L"Qword4", L"Empty", L"Multi"})
        EXPECT_EQ(77u, store.ReadNumber(name, 77)) << name;

    WideString text;
    EXPECT_FALSE(store.ReadText(L"Dword", text, L"dflt"));
    EXPECT_STREQ(L"dflt", text.Text());
    EXPECT_FALSE(store.ReadText(L"Binary8", text));
    EXPECT_STREQ(L"", text.Text());
    EXPECT_FALSE(store.ReadText(L"Missing", text, L"dflt"));
    EXPECT_STREQ(L"dflt", text.Text());
    EXPECT_TRUE(store.ReadText(L"Multi", text, L"dflt"));
    EXPECT_STREQ(L"one\x01two\x01", text.Text());
    EXPECT_TRUE(store.ReadText(L"OddSize", text, L"dflt"));
    EXPECT_STREQ(L"a", text.Text()); // the value must carry its own terminator

    BYTE buffer[6];
    memset(buffer, 0xAA, sizeof(buffer));
    EXPECT_FALSE(store.ReadBlock(L"Block6", buffer, 5));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(0, buffer[i]);
    EXPECT_EQ(0xAA, buffer[5]); // nothing beyond the asked size is touched
    memset(buffer, 0xAA, sizeof(buffer));
    EXPECT_FALSE(store.ReadBlock(L"TextBlock", buffer, 6));
    for (BYTE b : buffer)
        EXPECT_EQ(0, b);
    EXPECT_TRUE(store.ReadBlock(L"Block6", buffer, 6));
    EXPECT_EQ(6, buffer[5]);
}

TEST(SettingsStore, FailedRegistryWritesReturnZeroAndKeepWhatWasThere)
{
    ScopedTestKey test(L"StoreReadOnly");
    // A volatile key cannot get a lasting child: every write below it fails.
    WideString volatilePath = test.SubPath(L"Volatile");
    HKEY volatileKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(test.Root(), volatilePath.Text(), 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr));
    DWORD seven = 7;
    SetRaw(volatileKey, L"Kept", REG_DWORD, &seven, 4);
    RegCloseKey(volatileKey);

    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreRegistry, test.Root(), volatilePath.Text()));
    EXPECT_FALSE(store.WriteNumber(L"x", 1, L"Child"));
    EXPECT_FALSE(store.WriteText(L"x", L"y", L"Child"));
    EXPECT_FALSE(store.WriteBlock(L"x", Block, sizeof(Block), L"Child"));
    EXPECT_EQ(7u, store.ReadNumber(L"Kept", 0));

    SettingsStore nowhere;
    ASSERT_TRUE(nowhere.Open(SettingsStore::StoreRegistry, (HKEY)(ULONG_PTR)0x1234, L"Software\\X"));
    EXPECT_FALSE(nowhere.WriteNumber(L"x", 1));
    EXPECT_EQ(3u, nowhere.ReadNumber(L"x", 3));
}

TEST(SettingsStore, IniRoundTripAndStoredForms)
{
    TempDirectory directory(L"storeini");
    WideString path = directory.File(L"settings.ini");
    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreIni, nullptr, L"ignored\\key", path.Text()));
    EXPECT_STREQ(path.Text(), store.FilePath());
    WriteEverything(store, true);
    ExpectEverything(store, true);
    store.Close();

    // A new file is UTF-16, so texts outside the ANSI code page survive.
    std::string bytes = directory.Read(L"settings.ini");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    std::wstring file((const wchar_t*)(bytes.data() + 2), (bytes.size() - 2) / 2);
    EXPECT_NE(std::wstring::npos, file.find(L"[Settings]"));
    EXPECT_NE(std::wstring::npos, file.find(L"Big=1311768467463790320"));
    EXPECT_NE(std::wstring::npos, file.find(L"[Splitter]"));
    EXPECT_NE(std::wstring::npos, file.find(L"Width=300"));

    SettingsStore again;
    ASSERT_TRUE(again.Open(SettingsStore::StoreIni, nullptr, nullptr, path.Text()));
    ExpectEverything(again, true);
    ASSERT_TRUE(WritePrivateProfileStringW(L"Settings", L"Mixed", L"12abc", path.Text()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Settings", L"Letters", L"abc", path.Text()));
    EXPECT_EQ(12u, again.ReadNumber(L"Mixed", 77));
    EXPECT_EQ(77u, again.ReadNumber(L"Letters", 77));
    WideString text;
    EXPECT_TRUE(again.ReadText(L"Missing", text, L"dflt")); // INI reads always succeed
    EXPECT_STREQ(L"dflt", text.Text());
    BYTE back[5];
    EXPECT_FALSE(again.ReadBlock(L"Main", back, sizeof(back))); // a text is no block
}

TEST(SettingsStore, AnAnsiIniFileIsReadAsItIs)
{
    TempDirectory directory(L"storeiniansi");
    ASSERT_TRUE(directory.Write(L"a.ini", "[Settings]\r\nFlags=6\r\nName=plain\r\n"));
    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreIni, nullptr, nullptr, directory.File(L"a.ini").Text()));
    EXPECT_EQ(6u, store.ReadNumber(L"Flags", 0));
    EXPECT_TRUE(store.WriteNumber(L"Flags", 8));
    EXPECT_EQ(8u, store.ReadNumber(L"Flags", 0));
    WideString text;
    EXPECT_TRUE(store.ReadText(L"Name", text));
    EXPECT_STREQ(L"plain", text.Text());
}

TEST(SettingsStore, BareIniNamesLieBesideTheProgram)
{
    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreIni, nullptr, nullptr, L"quill_store_test.ini"));
    ASSERT_TRUE(store.WriteNumber(L"n", 4));
    WideString directory;
    ASSERT_TRUE(GetExecutableDirectory(directory));
    WideString expected;
    expected.Format(L"%squill_store_test.ini", directory.Text());
    EXPECT_EQ(4u, GetPrivateProfileIntW(L"Settings", L"n", 0, expected.Text()));
    store.Close();
    EXPECT_TRUE(DeleteFileW(expected.Text()));
}

TEST(SettingsStore, ReadOnlyIniFileRefusesWritesAndKeepsItsContent)
{
    TempDirectory directory(L"storeiniro");
    WideString path = directory.File(L"ro.ini");
    ASSERT_TRUE(directory.Write(L"ro.ini", "[Settings]\r\nFlags=3\r\n"));
    ASSERT_TRUE(SetFileAttributesW(path.Text(), FILE_ATTRIBUTE_READONLY));
    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreIni, nullptr, nullptr, path.Text()));
    EXPECT_FALSE(store.WriteNumber(L"Flags", 4));
    EXPECT_FALSE(store.WriteText(L"Other", L"x"));
    EXPECT_FALSE(store.WriteBlock(L"Block", Block, sizeof(Block)));
    EXPECT_EQ(3u, store.ReadNumber(L"Flags", 0));
    store.Close();
    EXPECT_EQ("[Settings]\r\nFlags=3\r\n", directory.Read(L"ro.ini"));
}

TEST(SettingsStore, XmlRoundTripThroughTheFile)
{
    TempDirectory directory(L"storexml");
    WideString path = directory.File(L"settings.xml");
    {
        SettingsStore store;
        ASSERT_TRUE(store.Open(SettingsStore::StoreXml, nullptr, L"Quillmere", path.Text()));
        WriteEverything(store, false);
        ExpectEverything(store, false);
        // Nothing reaches the file before Close.
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.Text()));
        EXPECT_TRUE(store.Close());
    }
    std::string file = directory.Read(L"settings.xml");
    EXPECT_NE(std::string::npos, file.find("<Quillmere")) << file;
    EXPECT_NE(std::string::npos, file.find("Flags=\"5\"")) << file;
    EXPECT_NE(std::string::npos, file.find("<Splitter")) << file;

    SettingsStore again;
    ASSERT_TRUE(again.Open(SettingsStore::StoreXml, nullptr, L"Quillmere", path.Text()));
    ExpectEverything(again, false);
    WideString text;
    // The XML file keeps the text empty and ignores the default.
    text = L"stale";
    EXPECT_FALSE(again.ReadText(L"Missing", text, L"dflt"));
    EXPECT_STREQ(L"", text.Text());
    EXPECT_FALSE(again.ReadText(L"Missing", text, L"dflt", L"Splitter"));
    EXPECT_STREQ(L"", text.Text());

    // A caller may hand in the element itself.
    IUnknown* splitter = again.Document().FindOrCreatePath(L"Quillmere\\Splitter");
    ASSERT_NE(nullptr, splitter);
    EXPECT_EQ(300u, again.ReadNumber(L"Width", 0, nullptr, splitter));
    EXPECT_TRUE(again.WriteNumber(L"Height", 12, nullptr, splitter));
    splitter->Release();
    EXPECT_EQ(12u, again.ReadNumber(L"Height", 0, L"Splitter"));
    EXPECT_TRUE(again.Close());
    EXPECT_NE(std::string::npos, directory.Read(L"settings.xml").find("Height=\"12\""));
}

TEST(SettingsStore, XmlTextsParseAndGarbageReadsAsTheDefault)
{
    TempDirectory directory(L"storexmlparse");
    ASSERT_TRUE(directory.Write(L"s.xml", "<Quillmere Mixed=\"12abc\" Letters=\"abc\" Empty=\"\">"
                                          "<Child>34</Child></Quillmere>"));
    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreXml, nullptr, L"Quillmere", directory.File(L"s.xml").Text()));
    EXPECT_EQ(12u, store.ReadNumber(L"Mixed", 77));
    EXPECT_EQ(77u, store.ReadNumber(L"Letters", 77));
    EXPECT_EQ(77u, store.ReadNumber(L"Empty", 77));
    EXPECT_EQ(34u, store.ReadNumber(L"Child", 77)); // a child element's text counts too
    BYTE buffer[4] = {1, 1, 1, 1};
    EXPECT_FALSE(store.ReadBlock(L"Mixed", buffer, 4));
    EXPECT_EQ(0, buffer[0]);
}

TEST(SettingsStore, UnreadableXmlFileIsNeverOverwritten)
{
    TempDirectory directory(L"storexmlbad");
    const std::string damaged = "<Quillmere Flags=\"1\"><unclosed></Quillmere>";
    ASSERT_TRUE(directory.Write(L"bad.xml", damaged));
    {
        SettingsStore store;
        EXPECT_FALSE(store.Open(SettingsStore::StoreXml, nullptr, L"Quillmere", directory.File(L"bad.xml").Text()));
        EXPECT_EQ(9u, store.ReadNumber(L"Flags", 9));
        EXPECT_FALSE(store.WriteNumber(L"Flags", 2));
        EXPECT_TRUE(store.Close());
    }
    EXPECT_EQ(damaged, directory.Read(L"bad.xml"));

    // A file whose root has another name: writing below it could never be
    // read back, so it is refused.
    const std::string foreign = "<Other Flags=\"1\"/>";
    ASSERT_TRUE(directory.Write(L"foreign.xml", foreign));
    {
        SettingsStore store;
        ASSERT_TRUE(store.Open(SettingsStore::StoreXml, nullptr, L"Quillmere", directory.File(L"foreign.xml").Text()));
        EXPECT_EQ(9u, store.ReadNumber(L"Flags", 9));
        EXPECT_FALSE(store.WriteNumber(L"Flags", 2));
    }
    EXPECT_EQ(foreign, directory.Read(L"foreign.xml"));

    // Opening and closing without a change creates no file.
    {
        SettingsStore store;
        ASSERT_TRUE(store.Open(SettingsStore::StoreXml, nullptr, L"Quillmere", directory.File(L"new.xml").Text()));
        EXPECT_EQ(1u, store.ReadNumber(L"Flags", 1));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(directory.File(L"new.xml").Text()));
}

TEST(SettingsStore, ReadOnlyXmlFileFailsOnCloseAndKeepsItsContent)
{
    TempDirectory directory(L"storexmlro");
    const std::string original = "<Quillmere Flags=\"1\"/>";
    ASSERT_TRUE(directory.Write(L"ro.xml", original));
    WideString path = directory.File(L"ro.xml");
    ASSERT_TRUE(SetFileAttributesW(path.Text(), FILE_ATTRIBUTE_READONLY));
    SettingsStore store;
    ASSERT_TRUE(store.Open(SettingsStore::StoreXml, nullptr, L"Quillmere", path.Text()));
    EXPECT_EQ(1u, store.ReadNumber(L"Flags", 0));
    EXPECT_TRUE(store.WriteNumber(L"Flags", 2)); // kept in memory until Close
    EXPECT_FALSE(store.Close());
    EXPECT_EQ(original, directory.Read(L"ro.xml"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(directory.File(L"ro.xml.tmp").Text()));
}
