#include <gtest/gtest.h>

#include "common/RecordingListSink.h"
#include "common/RecordingTreeSink.h"
#include "common/SimulatedMachine.h"
#include "devices/DeviceTree.h"
#include "properties/PropertyList.h"

#include <random>
#include <string>

namespace {

const char* const RichMachine =
    "setupclass {4D36E972-E325-11CE-BFC1-08002BE10318} Net\n"
    "  icon 2277DD\n"
    "  propkey installer DEVPKEY_DeviceClass_Name\n"
    "  propkey installer DEVPKEY_Device_DeviceDesc\n"
    "  key installer\n"
    "    value \"Class\" sz \"Net\"\n"
    "  key interface\n"
    "    value \"Iface\" dword 1\n"
    "device \"HTREE\\\\ROOT\\\\0\" handle=7\n"
    "  device \"PCI\\\\VEN_8086&DEV_15B8\\\\3&1\" handle=4096\n"
    "    class Net\n"
    "    status 0x01802400\n"
    "    problem 28\n"
    "    reg DEVICEDESC sz \"Intel Ethernet\"\n"
    "    reg HARDWAREID multi_sz \"A\" \"B\"\n"
    "    reg CLASSGUID sz \"{4D36E972-E325-11CE-BFC1-08002BE10318}\"\n"
    "    reg CONFIGFLAGS dword 0\n"
    "    reg LOCATION_INFORMATION expand_sz \"%SystemRoot%\\\\x\"\n"
    "    reg ADDRESS qword 4294967296\n"
    "    reg SECURITY binary hex:01,02,03\n"
    "    reg DEVTYPE dword_be 1\n"
    "    reg LOCATION_PATHS multi_sz hex:41,00*800\n"
    "    reg BASE_CONTAINERID sz \"{8A2C6A5B-0000-1111-2222-333344445555}\"\n"
    "    prop DEVPKEY_Device_DeviceDesc string \"Intel Ethernet\"\n"
    "    prop DEVPKEY_Device_BusNumber uint32 5\n"
    "    prop DEVPKEY_Device_IsPresent boolean true\n"
    "    prop DEVPKEY_Device_ClassGuid guid {4D36E972-E325-11CE-BFC1-08002BE10318}\n"
    "    prop DEVPKEY_Device_HardwareIds string_list \"A\" \"B\"\n"
    "    prop {01234567-89AB-CDEF-0123-456789ABCDEF} 7 int32 -5\n"
    "    prop DEVPKEY_Device_Address byte 7\n"
    "    prop {01234567-89AB-CDEF-0123-456789ABCDEF} 9 empty\n"
    "    key hardware\n"
    "      value \"HwValue\" dword 31\n"
    "      value \"\" sz \"default\"\n"
    "    key hardware \"Sub\"\n"
    "      value \"Hidden\" sz \"x\"\n"
    "    key software\n"
    "      value \"ClassGUID\" sz \"{4D36E972-E325-11CE-BFC1-08002BE10318}\"\n"
    "      value \"Big\" binary hex:00*1560\n"
    "      value \"Bigger\" binary hex:00*1561\n"
    "  device \"ROOT\\\\FAILING\\\\0\" handle=1\n"
    "    class Net\n"
    "    reg DEVICEDESC sz \"Failing\"\n"
    "    reg CLASSGUID sz \"{4D36E972-E325-11CE-BFC1-08002BE10318}\"\n"
    "    prop DEVPKEY_Device_DeviceDesc string \"never read\"\n"
    "    key hardware\n"
    "      value \"HwValue\" dword 31\n"
    "    fail CM_Get_Device_IDW\n"
    "    fail CM_Get_DevNode_Status\n"
    "    fail SetupDiGetDevicePropertyKeys\n"
    "    fail CM_Open_DevNode_Key\n";

class PropertyListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model.Start();
        model.RebuildTree(tree, nullptr);
        ASSERT_EQ(3, tree.ItemCount()) << SimulatedMachine::LastError();
    }
    void TearDown() override
    {
        int sets = SimulatedMachine::OpenSets();
        if (sets >= 0) {
            EXPECT_EQ(0, sets) << "a device information set was leaked";
        }
        model.Stop();
    }

    DeviceNode* Node(const wchar_t* name)
    {
        const RecordingTreeSink::Item* item = tree.Find(name);
        return item ? (DeviceNode*)item->param : nullptr;
    }

    void ExpectRow(const RecordingListSink::Row& row, const wchar_t* key, const wchar_t* keyDetails,
                   const wchar_t* value, const wchar_t* valueDetails)
    {
        EXPECT_EQ(key, row.cells[0]);
        EXPECT_EQ(keyDetails, row.cells[1]) << "row " << std::string(row.cells[0].begin(), row.cells[0].end());
        EXPECT_EQ(value, row.cells[2]) << "row " << std::string(row.cells[0].begin(), row.cells[0].end());
        EXPECT_EQ(valueDetails, row.cells[3]) << "row " << std::string(row.cells[0].begin(), row.cells[0].end());
    }

    SimulatedMachine machine{RichMachine};
    DeviceTree model;
    RecordingTreeSink tree;
    RecordingListSink list;
};

} // namespace

TEST_F(PropertyListTest, EveryGroupInItsOrderWithItsFourTexts)
{
    DeviceNode* node = Node(L"Intel Ethernet");
    ASSERT_NE(nullptr, node);
    model.FillPropertyList(list, node);

    std::vector<int> order = {GroupMiscellaneous, GroupRegistryProperties, GroupClassProperties,
                              GroupDeviceProperties, GroupDeviceRegistry, GroupDriverRegistry,
                              GroupInstallerRegistry, GroupInterfaceRegistry};
    EXPECT_EQ(order, list.GroupOrder());

    std::vector<RecordingListSink::Row> misc = list.Group(GroupMiscellaneous);
    ASSERT_EQ(3u, misc.size());
    ExpectRow(misc[0], L"DevInstance", L"", L"0x1000", L"");
    ExpectRow(misc[1], L"Device Id", L"", L"PCI\\VEN_8086&DEV_15B8\\3&1", L"");
    ExpectRow(misc[2], L"Status", L"",
              L"0x01802400 (HAS_PROBLEM, DISABLEABLE, NT_ENUMERATOR, NT_DRIVER), Problem: 0x1C "
              L"(FAILED_INSTALL)",
              L"");

    std::vector<RecordingListSink::Row> reg = list.Group(GroupRegistryProperties);
    ASSERT_EQ(9u, reg.size()) << "LOCATION_PATHS exceeds 780 bytes and gets no row";
    ExpectRow(reg[0], L"CM_DRP_DEVICEDESC", L"", L"Intel Ethernet", L"");
    ExpectRow(reg[1], L"CM_DRP_HARDWAREID", L"", L"A, B", L"");
    ExpectRow(reg[2], L"CM_DRP_CLASSGUID", L"", L"{4D36E972-E325-11CE-BFC1-08002BE10318}", L"Net");
    ExpectRow(reg[3], L"CM_DRP_CONFIGFLAGS", L"", L"0x0 (0)", L"");
    ExpectRow(reg[4], L"CM_DRP_LOCATION_INFORMATION", L"", L"%SystemRoot%\\x", L"");
    ExpectRow(reg[5], L"CM_DRP_SECURITY", L"", L"3 Bytes Binary Data", L"");
    ExpectRow(reg[6], L"CM_DRP_DEVTYPE", L"", L"Unknown Type 0x5", L"");
    ExpectRow(reg[7], L"CM_DRP_ADDRESS", L"", L"0x100000000 (4294967296)", L"");
    ExpectRow(reg[8], L"CM_DRP_BASE_CONTAINERID", L"", L"{8A2C6A5B-0000-1111-2222-333344445555}", L"");

    std::vector<RecordingListSink::Row> cls = list.Group(GroupClassProperties);
    ASSERT_EQ(1u, cls.size()) << "only the class key the device itself holds gets a row";
    ExpectRow(cls[0], L"{A45C254E-DF1C-4EFD-8020-67D146A850E0} [2]", L"DEVPKEY_Device_DeviceDesc",
              L"Intel Ethernet", L"");

    std::vector<RecordingListSink::Row> dev = list.Group(GroupDeviceProperties);
    ASSERT_EQ(7u, dev.size()) << "an empty property gets no row";
    ExpectRow(dev[0], L"{A45C254E-DF1C-4EFD-8020-67D146A850E0} [2]", L"DEVPKEY_Device_DeviceDesc",
              L"Intel Ethernet", L"");
    ExpectRow(dev[1], L"{A45C254E-DF1C-4EFD-8020-67D146A850E0} [23]", L"DEVPKEY_Device_BusNumber",
              L"5", L"");
    EXPECT_EQ(L"DEVPKEY_Device_IsPresent", dev[2].cells[1]);
    EXPECT_EQ(L"255", dev[2].cells[2]);
    EXPECT_EQ(L"{4D36E972-E325-11CE-BFC1-08002BE10318}", dev[3].cells[2]);
    EXPECT_EQ(L"Net", dev[3].cells[3]);
    EXPECT_EQ(L"10 Bytes Binary Data", dev[4].cells[2]);
    ExpectRow(dev[5], L"{01234567-89AB-CDEF-0123-456789ABCDEF} [7]", L"", L"4 Bytes Binary Data", L"");
    EXPECT_EQ(L"7", dev[6].cells[2]);

    std::vector<RecordingListSink::Row> hardware = list.Group(GroupDeviceRegistry);
    ASSERT_EQ(2u, hardware.size()) << "values of sub-keys are not listed";
    const RecordingListSink::Row* hw = list.Find(L"HwValue");
    ASSERT_NE(nullptr, hw);
    ExpectRow(*hw, L"HwValue", L"", L"0x1F (31)", L"");
    const RecordingListSink::Row* byDefault = list.Find(L"");
    ASSERT_NE(nullptr, byDefault);
    EXPECT_EQ(L"default", byDefault->cells[2]);

    std::vector<RecordingListSink::Row> driver = list.Group(GroupDriverRegistry);
    ASSERT_EQ(2u, driver.size()) << "a value of 1561 bytes is skipped, the others stay";
    ExpectRow(*list.Find(L"ClassGUID"), L"ClassGUID", L"", L"{4D36E972-E325-11CE-BFC1-08002BE10318}",
              L"Net");
    ExpectRow(*list.Find(L"Big"), L"Big", L"", L"1560 Bytes Binary Data", L"");
    EXPECT_EQ(nullptr, list.Find(L"Bigger"));

    ExpectRow(list.Group(GroupInstallerRegistry).at(0), L"Class", L"", L"Net", L"");
    ExpectRow(list.Group(GroupInterfaceRegistry).at(0), L"Iface", L"", L"0x1 (1)", L"");

    for (const RecordingListSink::Row& row : list.rows) {
        EXPECT_EQ(0, row.image);
        EXPECT_EQ(0, row.param);
    }
}

TEST_F(PropertyListTest, FillingRunsUnderOneRedrawSuspensionAndSortsOnce)
{
    SimulatedMachine::ResetCalls();
    model.FillPropertyList(list, Node(L"Intel Ethernet"));
    EXPECT_EQ(1, SimulatedMachine::Calls("SetupDiGetClassDevsW"))
        << "one device information set serves every read of a fill";
    std::vector<std::string> expected = {"delete-all", "redraw-off", "insert", "resort", "redraw-on"};
    EXPECT_EQ(expected, list.calls);
    EXPECT_TRUE(list.keptSort);
    EXPECT_EQ(0, list.redrawDepth);

    list.calls.clear();
    model.FillPropertyList(list, nullptr);
    std::vector<std::string> empty = {"delete-all", "redraw-off", "redraw-on"};
    EXPECT_EQ(empty, list.calls);
    EXPECT_TRUE(list.rows.empty());
}

TEST_F(PropertyListTest, FailingReadsRemoveExactlyTheirOwnRows)
{
    model.FillPropertyList(list, Node(L"Failing"));
    std::vector<RecordingListSink::Row> misc = list.Group(GroupMiscellaneous);
    ASSERT_EQ(1u, misc.size()) << "no Device Id and no Status row";
    ExpectRow(misc[0], L"DevInstance", L"", L"0x1", L"");
    EXPECT_EQ(2u, list.Group(GroupRegistryProperties).size());
    EXPECT_EQ(1u, list.Group(GroupClassProperties).size());
    EXPECT_TRUE(list.Group(GroupDeviceProperties).empty());
    EXPECT_TRUE(list.Group(GroupDeviceRegistry).empty());
    EXPECT_TRUE(list.Group(GroupDriverRegistry).empty());
    EXPECT_EQ(1u, list.Group(GroupInstallerRegistry).size());
    EXPECT_EQ(1u, list.Group(GroupInterfaceRegistry).size());
}

TEST_F(PropertyListTest, AStoppedModelLeavesTheListUntouched)
{
    DeviceNode* node = Node(L"Intel Ethernet");
    model.FillPropertyList(list, node);
    size_t rows = list.rows.size();
    list.calls.clear();
    model.Stop();
    EXPECT_EQ(0, model.FillPropertyList(list, nullptr));
    EXPECT_TRUE(list.calls.empty());
    EXPECT_EQ(rows, list.rows.size());
}

namespace {

// Hostile property data: sizes that lie, strings without terminators,
// odd byte counts and absurd required sizes.
const char* const HostileMachine =
    "device \"HTREE\\\\ROOT\\\\0\"\n"
    "  device \"ROOT\\\\HOSTILE\\\\0\"\n"
    "    reg DEVICEDESC sz hex:48,00,69,00\n"
    "    reg HARDWAREID multi_sz hex:41,00,00\n"
    "    reg COMPATIBLEIDS multi_sz hex:\n"
    "    reg CONFIGFLAGS dword hex:07\n"
    "    reg FRIENDLYNAME sz \"A\"*4200\n"
    "    prop {11111111-2222-3333-4444-555555555555} 1 string \"A\"*300\n"
    "    prop {11111111-2222-3333-4444-555555555555} 2 string \"B\"*260 bytes=520\n"
    "    prop {11111111-2222-3333-4444-555555555555} 3 string hex:43,00*10 required=100000000\n"
    "    prop {11111111-2222-3333-4444-555555555555} 4 uint32 hex:01 required=2\n"
    "    prop {11111111-2222-3333-4444-555555555555} 5 uint64 hex:01*12\n"
    "    prop {11111111-2222-3333-4444-555555555555} 6 guid hex:01,02\n"
    "    prop {11111111-2222-3333-4444-555555555555} 7 filetime hex:FF*8\n"
    "    prop {11111111-2222-3333-4444-555555555555} 8 0x1003 hex: required=4294967295\n"
    "    prop {11111111-2222-3333-4444-555555555555} 9 string hex:44,00,45\n"
    "    prop {11111111-2222-3333-4444-555555555555} 10 filetime hex:01,02,03\n";

} // namespace

TEST(PropertyListHostile, LyingAndTruncatedDataNeverBreaksTheList)
{
    SimulatedMachine machine(HostileMachine);
    DeviceTree model;
    RecordingTreeSink tree;
    RecordingListSink list;
    model.Start();
    model.RebuildTree(tree, nullptr);
    const RecordingTreeSink::Item* item = tree.Roots()[0]->items[0];
    EXPECT_EQ(L"Hi", item->text) << "a FRIENDLYNAME over 8190 bytes reads empty, and the "
                                    "description ends where its data ends";
    DeviceNode* node = (DeviceNode*)item->param;
    WideString name;
    EXPECT_FALSE(node->RegistryProperty(SPDRP_FRIENDLYNAME, name));
    EXPECT_STREQ(L"", name.Text());
    EXPECT_TRUE(node->RegistryProperty(SPDRP_DEVICEDESC, name));
    EXPECT_STREQ(L"Hi", name.Text());

    model.FillPropertyList(list, node);
    const RecordingListSink::Row* flags = list.Find(L"CM_DRP_CONFIGFLAGS");
    ASSERT_NE(nullptr, flags);
    EXPECT_EQ(L"0x7 (7)", flags->cells[2]);
    EXPECT_EQ(L"A", list.Find(L"CM_DRP_HARDWAREID")->cells[2]);
    EXPECT_EQ(L"", list.Find(L"CM_DRP_COMPATIBLEIDS")->cells[2]);

    auto value = [&](int pid) -> const RecordingListSink::Row* {
        WideString key;
        key.Format(L"{11111111-2222-3333-4444-555555555555} [%u]", pid);
        return list.Find(key.Text());
    };
    EXPECT_EQ(nullptr, value(1)) << "a string over 260 characters gets no row";
    ASSERT_NE(nullptr, value(2));
    EXPECT_EQ(259u, value(2)->cells[2].size()) << "260 characters without terminator stay bounded";
    ASSERT_NE(nullptr, value(9));
    EXPECT_EQ(L"D", value(9)->cells[2].substr(0, 1));
    EXPECT_LE(value(9)->cells[2].size(), 2u);
    EXPECT_NE(nullptr, value(4));
    EXPECT_EQ(nullptr, value(5)) << "twelve bytes do not fit a 64-bit number";
    EXPECT_EQ(L"4294967295 Bytes Binary Data", value(8)->cells[2]);
    // A GUID or a file time shorter than its type is shown as the few bytes
    // it is, never read from bytes it does not have.
    ASSERT_NE(nullptr, value(6));
    EXPECT_EQ(L"2 Bytes Binary Data", value(6)->cells[2]);
    ASSERT_NE(nullptr, value(10));
    EXPECT_EQ(L"3 Bytes Binary Data", value(10)->cells[2]);
    model.Stop();
}

TEST(PropertyListHostile, RandomPropertiesAndValuesAreAlwaysFormattedSafely)
{
    std::mt19937 random(7);
    const char* types[] = {"byte",   "uint16", "uint32", "uint64", "boolean", "guid",
                           "filetime", "string", "int32", "string_list", "0x1003", "0x99"};
    const char* regTypes[] = {"sz", "expand_sz", "binary", "dword", "multi_sz", "qword", "none",
                              "dword_be", "link"};
    for (int round = 0; round < 20; ++round) {
        std::string text = "device \"HTREE\\\\ROOT\\\\0\"\n  device \"ROOT\\\\RANDOM\\\\0\"\n";
        for (int i = 0; i < 60; ++i) {
            int bytes = random() % 40;
            std::string hex = "hex:";
            for (int b = 0; b < bytes; ++b) {
                char part[8];
                sprintf(part, "%s%02X", b ? "," : "", (random() % 3) ? (unsigned)(random() & 0xFF) : 0u);
                hex += part;
            }
            char line[512];
            sprintf(line, "    prop {22222222-2222-3333-4444-555555555555} %d %s %s%s\n", i,
                    types[random() % 12], hex.c_str(),
                    (random() % 4 == 0) ? " required=7" : "");
            text += line;
            if (i < 30) {
                sprintf(line, "    key hardware\n      value \"v%d\" %s %s\n", i,
                        regTypes[random() % 9], hex.c_str());
                text += line;
            }
        }
        SimulatedMachine machine(text.c_str());
        DeviceTree model;
        RecordingTreeSink tree;
        RecordingListSink list;
        model.Start();
        model.RebuildTree(tree, nullptr);
        ASSERT_EQ(2, tree.ItemCount()) << SimulatedMachine::LastError();
        model.FillPropertyList(list, (DeviceNode*)tree.Roots()[0]->items[0]->param);
        EXPECT_GE(list.rows.size(), 31u);
        for (const RecordingListSink::Row& row : list.rows)
            EXPECT_LE(row.cells[2].size(), 300u);
        EXPECT_EQ(0, SimulatedMachine::OpenSets());
        model.Stop();
    }
}
