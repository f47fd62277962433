#include <gtest/gtest.h>

#include "common/RecordingTreeSink.h"
#include "common/SimulatedMachine.h"
#include "devices/DeviceTree.h"

#include <string>
#include <vector>

namespace {

// A small machine whose shape the tests know by heart.
const char* const SmallMachine =
    "setupclass {4D36E972-E325-11CE-BFC1-08002BE10318} Net\n"
    "  icon 2277DD\n"
    "setupclass {4D36E97D-E325-11CE-BFC1-08002BE10318} System\n"
    "device \"HTREE\\\\ROOT\\\\0\"\n"
    "  device \"ACPI_HAL\\\\PNP0C08\\\\0\"\n"
    "    class System\n"
    "    reg CLASSGUID sz \"{4D36E97D-E325-11CE-BFC1-08002BE10318}\"\n"
    "    reg DEVICEDESC sz \"ACPI x64-based PC\"\n"
    "    status 0x0180200A\n"
    "    device \"ACPI\\\\PNP0A08\\\\0\"\n"
    "      reg FRIENDLYNAME sz \"PCI Express Root Complex\"\n"
    "      reg DEVICEDESC sz \"PCI bus\"\n"
    "      device \"PCI\\\\VEN_8086&DEV_15B8\\\\3&11583659&0&FE\"\n"
    "        class Net\n"
    "        reg CLASSGUID sz \"{4D36E972-E325-11CE-BFC1-08002BE10318}\"\n"
    "        reg DEVICEDESC sz \"Ethernet Connection\"\n"
    "        reg HARDWAREID multi_sz \"PCI\\\\VEN_8086\" \"PCI\\\\CC_0200\"\n"
    "        status 0x01802400\n"
    "        problem 28\n"
    "        device \"SWD\\\\DEEP\\\\Child\"\n"
    "          reg DEVICEDESC sz \"Deep Widget\"\n"
    "      device \"PCI\\\\VEN_10DE\\\\4&1\"\n"
    "        reg DEVICEDESC sz \"Gr\xC3\xA4" "fikkarte\"\n"
    "  device \"ROOT\\\\UNNAMED\\\\0000\"\n"
    "    fail CM_Get_DevNode_Status\n"
    "    fail CM_Get_Device_IDW\n";

const std::vector<std::wstring> SmallMachinePaths = {
    L"Root",
    L"Root/ACPI x64-based PC",
    L"Root/ACPI x64-based PC/PCI Express Root Complex",
    L"Root/ACPI x64-based PC/PCI Express Root Complex/Ethernet Connection",
    L"Root/ACPI x64-based PC/PCI Express Root Complex/Ethernet Connection/Deep Widget",
    L"Root/ACPI x64-based PC/PCI Express Root Complex/Gr\u00E4fikkarte",
    L"Root/",
};

class DeviceTreeTest : public ::testing::Test {
protected:
    void SetUp() override { SimulatedMachine::ResetCalls(); }
    void TearDown() override
    {
        int sets = SimulatedMachine::OpenSets();
        if (sets >= 0) {
            EXPECT_EQ(0, sets) << "a device information set was leaked";
        }
        model.Stop();
    }

    std::vector<std::wstring> Rebuild(const wchar_t* filter)
    {
        tree = RecordingTreeSink();
        model.RebuildTree(tree, filter);
        return tree.Paths();
    }

    DeviceTree model;
    RecordingTreeSink tree;
};

std::vector<std::wstring> AllButRoot(std::vector<std::wstring> paths)
{
    return std::vector<std::wstring>(paths.begin() + 1, paths.end());
}

} // namespace

TEST_F(DeviceTreeTest, BindsEverySlotThroughTheSimulator)
{
    SimulatedMachine machine(SmallMachine);
    ASSERT_EQ(1, model.Start());
    const DeviceApi& api = model.Api();
    for (int i = 0; i < DeviceApi::SlotCount; ++i)
        EXPECT_NE(nullptr, api.Slot(i)) << DeviceApi::SlotName(i);
    EXPECT_STREQ("SetupDiGetDeviceInstallParamsW", DeviceApi::SlotName(74));
    // Every named slot holds exactly the entry point of its own name, and so
    // does the slot at its index: the table is one array in lookup order.
    HMODULE setup = GetModuleHandleW(L"setupapi.dll");
    ASSERT_NE(nullptr, setup);
    int index = 0;
#define EXPECT_SLOT_BOUND_BY_NAME(name, type)                                                 \
    if (index >= 2) {                                                                       \
        EXPECT_EQ(GetProcAddress(setup, #name), reinterpret_cast<FARPROC>(api.name())) << #name; \
        EXPECT_EQ(GetProcAddress(setup, #name), api.Slot(DeviceApi::Slot_##name)) << #name;  \
        EXPECT_STREQ(#name, DeviceApi::SlotName(index));                                     \
    }                                                                                       \
    ++index;
    DEVICE_API_SLOTS(EXPECT_SLOT_BOUND_BY_NAME)
#undef EXPECT_SLOT_BOUND_BY_NAME
    EXPECT_EQ(DeviceApi::SlotCount, index);
    EXPECT_TRUE(api.setupLibrary.IsLoaded());
    EXPECT_FALSE(api.configManagerLibrary.IsLoaded()) << "the fallback is only for older systems";
}

TEST_F(DeviceTreeTest, FallsBackToTheConfigurationManagerLibrary)
{
    SimulatedMachine machine(SmallMachine);
    DeviceApi::LibraryNames names = DeviceApi::SystemLibraries;
    names.setup = L"simsetup_nocm.dll";
    // Only known DLLs are found beside the executable by their bare names.
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring configManager = std::wstring(path, length);
    configManager = configManager.substr(0, configManager.find_last_of(L'\\') + 1) + L"simcfgmgr.dll";
    names.configManager = configManager.c_str();
    model.Api().UseLibraries(names);
    model.Start();
    const DeviceApi& api = model.Api();
    EXPECT_TRUE(api.configManagerLibrary.IsLoaded());
    EXPECT_NE(nullptr, api.CM_Get_Child());
    EXPECT_NE(nullptr, api.CMP_WaitNoPendingInstallEvents());
    EXPECT_EQ(nullptr, api.CM_Reenumerate_DevNode_Ex());
    EXPECT_NE(nullptr, api.SetupDiGetClassDevsW());
    EXPECT_EQ(SmallMachinePaths, Rebuild(nullptr));
}

TEST_F(DeviceTreeTest, WithoutLibrariesEverythingStaysEmpty)
{
    DeviceApi::LibraryNames names = {L"quill_none1.dll", L"quill_none2.dll", L"quill_none3.dll",
                                     L"quill_none4.dll"};
    model.Api().UseLibraries(names);
    EXPECT_EQ(1, model.Start());
    EXPECT_EQ(0, model.Api().BoundSlotCount());
    EXPECT_EQ(nullptr, model.Enumerate(false));
    EXPECT_TRUE(Rebuild(nullptr).empty());
    EXPECT_TRUE(Rebuild(L"x").empty());
    // the rebuild still cleared the control and balanced its redraw
    EXPECT_EQ(0, tree.redrawDepth);
    EXPECT_EQ(101, tree.lastIconResource);
}

TEST_F(DeviceTreeTest, BindingTwiceReleasesTheFirstLibrariesAndUnbindFreesThem)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    model.Start();
    ASSERT_NE(nullptr, GetModuleHandleW(L"setupapi.dll"));
    model.Stop();
    EXPECT_EQ(nullptr, GetModuleHandleW(L"setupapi.dll"))
        << "two binds must leave exactly one reference";
    EXPECT_EQ(0, model.Api().BoundSlotCount());
}

TEST_F(DeviceTreeTest, UnbindDisconnectsOnlyARemoteMachine)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    ASSERT_NE(nullptr, model.Enumerate(false));
    model.Api().Unbind();
    // The simulator is unloaded with its counters, so bind again to read them.
    model.Start();
    SimulatedMachine::ResetCalls();
    model.Api().Disconnect();
    EXPECT_EQ(0, SimulatedMachine::Calls("CM_Disconnect_Machine"));

    DeviceNode* root = model.Enumerate(false, L"\\\\LABMACHINE");
    ASSERT_NE(nullptr, root);
    EXPECT_TRUE(model.Api().IsRemote());
    EXPECT_EQ(1, SimulatedMachine::Calls("CM_Connect_MachineW"));
    EXPECT_GE(SimulatedMachine::Calls("CM_Locate_DevNode_ExW"), 1);
    EXPECT_EQ(0, SimulatedMachine::Calls("CM_Locate_DevNodeW"));
    model.Populate(root);
    EXPECT_STREQ(L"ACPI x64-based PC", root->children.First()->name.Text());
    // enumerating again ends the connection first
    model.Enumerate(false);
    EXPECT_EQ(1, SimulatedMachine::Calls("CM_Disconnect_Machine"));
    EXPECT_FALSE(model.Api().IsRemote());
}

TEST_F(DeviceTreeTest, EnumeratesEveryDevnodeInChildAndSiblingOrder)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    EXPECT_EQ(SmallMachinePaths, Rebuild(nullptr));
    EXPECT_EQ(1, model.TopLevel().Count());

    // the tree was built in one go and is fully expanded, nothing selected
    EXPECT_EQ("redraw-off", tree.calls.front());
    EXPECT_EQ("redraw-on", tree.calls.back());
    EXPECT_EQ(1, tree.redrawOffCount);
    EXPECT_EQ(0, tree.redrawDepth);
    const RecordingTreeSink::Item* root = tree.Roots()[0];
    EXPECT_EQ(1, root->children);
    const RecordingTreeSink::Item* deep = tree.Find(L"Deep Widget");
    ASSERT_NE(nullptr, deep);
    EXPECT_EQ(0, deep->children);
    EXPECT_TRUE(deep->expanded) << "every item is expanded, with or without children";
    EXPECT_EQ(1, deep->parent->children);
    DeviceNode* node = (DeviceNode*)deep->param;
    EXPECT_STREQ(L"Deep Widget", node->name.Text());
}

TEST_F(DeviceTreeTest, NamesStatusAndIconsFollowTheDeviceData)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    Rebuild(nullptr);
    const RecordingTreeSink::Item* hal = tree.Find(L"ACPI x64-based PC");
    const RecordingTreeSink::Item* ethernet = tree.Find(L"Ethernet Connection");
    const RecordingTreeSink::Item* complex = tree.Find(L"PCI Express Root Complex");
    ASSERT_TRUE(hal && ethernet && complex);
    EXPECT_EQ(0x0180200Au, ((DeviceNode*)hal->param)->status);
    EXPECT_EQ(0x01802400u, ((DeviceNode*)ethernet->param)->status);
    EXPECT_EQ(28u, ((DeviceNode*)ethernet->param)->problem);

    // Net has a class icon; System has none and gets the default image.
    EXPECT_NE(nullptr, ((DeviceNode*)ethernet->param)->icon);
    EXPECT_NE(model.DefaultImage(), ethernet->image);
    EXPECT_EQ(ethernet->image, ethernet->selectedImage);
    EXPECT_EQ(nullptr, ((DeviceNode*)hal->param)->icon);
    EXPECT_EQ(model.DefaultImage(), hal->image);
    EXPECT_EQ(model.DefaultImage(), complex->image);

    // A device whose status cannot be read keeps 0 and its empty name.
    const RecordingTreeSink::Item* unnamed = tree.Roots()[0]->items.back();
    EXPECT_EQ(L"", unnamed->text);
    EXPECT_EQ(0u, ((DeviceNode*)unnamed->param)->status);
}

TEST_F(DeviceTreeTest, FilterShowsAncestorsAndTheWholeSubtreeOfAMatch)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    Rebuild(nullptr);
    SimulatedMachine::ResetCalls();

    std::vector<std::wstring> expected = {
        L"Root",
        L"Root/ACPI x64-based PC",
        L"Root/ACPI x64-based PC/PCI Express Root Complex",
        L"Root/ACPI x64-based PC/PCI Express Root Complex/Ethernet Connection",
        L"Root/ACPI x64-based PC/PCI Express Root Complex/Ethernet Connection/Deep Widget",
    };
    EXPECT_EQ(expected, Rebuild(L"eTHERNET"));
    for (const RecordingTreeSink::Item* item = tree.Find(L"Deep Widget"); item; item = item->parent)
        EXPECT_TRUE(item->expanded);
    EXPECT_EQ(0, tree.Find(L"Deep Widget")->children);
    EXPECT_EQ(1, tree.Find(L"Ethernet Connection")->children);

    // A match high up shows its whole subtree unfiltered.
    std::vector<std::wstring> complexOnly = Rebuild(L"root complex");
    EXPECT_EQ(6u, complexOnly.size());

    // Filtering never asks the system.
    EXPECT_EQ(0, SimulatedMachine::Calls("CM_Get_Child"));
    EXPECT_EQ(0, SimulatedMachine::Calls("CM_Locate_DevNodeW"));
    EXPECT_EQ(0, SimulatedMachine::Calls("SetupDiGetClassDevsW"));
}

TEST_F(DeviceTreeTest, FilterFoldsOnlyAsciiLetters)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    Rebuild(nullptr);
    EXPECT_EQ(SmallMachinePaths, Rebuild(L"rOOT")) << "the root itself matches, so all is shown";
    EXPECT_EQ(3u, AllButRoot(Rebuild(L"gr\u00E4fik")).size());
    EXPECT_TRUE(Rebuild(L"GR\u00C4FIK").empty()) << "\u00C4 does not fold to \u00E4";
    EXPECT_TRUE(Rebuild(L"no such device").empty());
    EXPECT_EQ(0, tree.ItemCount());
}

TEST_F(DeviceTreeTest, EmptyFilterReadsTheMachineAgainButAFilterDoesNot)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    Rebuild(nullptr);
    std::string added = SmallMachine;
    added += "  device \"ROOT\\\\NEW\\\\0001\"\n    reg FRIENDLYNAME sz \"Hot Plugged Drive\"\n";
    machine.Rewrite(added.c_str());

    EXPECT_TRUE(Rebuild(L"Hot Plugged").empty()) << "a filter shows only the cached devices";
    std::vector<std::wstring> again = Rebuild(L"");
    EXPECT_EQ(SmallMachinePaths.size() + 1, again.size());
    EXPECT_EQ(L"Root/Hot Plugged Drive", again.back());
    EXPECT_EQ(2u, Rebuild(L"Hot Plugged").size());
}

TEST_F(DeviceTreeTest, FilterBeforeAnyEnumerationShowsTheBareRoot)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    std::vector<std::wstring> paths = Rebuild(L"root");
    ASSERT_EQ(1u, paths.size());
    EXPECT_EQ(L"Root", paths[0]);
    EXPECT_EQ(0, tree.Roots()[0]->children);
}

TEST_F(DeviceTreeTest, RegistryPropertiesAsTextAndRaw)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    Rebuild(nullptr);
    DeviceNode* ethernet = (DeviceNode*)tree.Find(L"Ethernet Connection")->param;
    WideString text;
    ASSERT_TRUE(ethernet->RegistryProperty(SPDRP_HARDWAREID, text));
    EXPECT_STREQ(L"PCI\\VEN_8086\x01PCI\\CC_0200\x01", text.Text());

    BYTE raw[128];
    ULONG length = sizeof(raw), type = 0;
    ASSERT_TRUE(ethernet->RegistryPropertyRaw(SPDRP_HARDWAREID, raw, &length, &type));
    EXPECT_EQ((ULONG)REG_MULTI_SZ, type);
    const wchar_t expected[] = L"PCI\\VEN_8086\0PCI\\CC_0200\0";
    ASSERT_EQ(sizeof(expected), length);
    EXPECT_EQ(0, memcmp(expected, raw, length));

    EXPECT_FALSE(ethernet->RegistryProperty(SPDRP_FRIENDLYNAME, text));
    EXPECT_STREQ(L"", text.Text());

    WideString id;
    EXPECT_TRUE(ethernet->InstanceId(id));
    EXPECT_STREQ(L"PCI\\VEN_8086&DEV_15B8\\3&11583659&0&FE", id.Text());
    DeviceNode* unnamed = (DeviceNode*)tree.Roots()[0]->items.back()->param;
    EXPECT_FALSE(unnamed->InstanceId(id));
    EXPECT_STREQ(L"", id.Text());
    EXPECT_FALSE(unnamed->LoadStatus());
}

TEST_F(DeviceTreeTest, DeviceInfoIsFoundAmongClasslessDevicesThenInTheOwnClass)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    Rebuild(nullptr);
    DeviceNode* ethernet = (DeviceNode*)tree.Find(L"Ethernet Connection")->param;
    DeviceNode* deep = (DeviceNode*)tree.Find(L"Deep Widget")->param;
    SimulatedMachine::ResetCalls();
    {
        DeviceInfoSet info;
        ASSERT_TRUE(ethernet->OpenDeviceInfo(GUID_NULL, info));
        EXPECT_EQ(ethernet->devnode, info.Element()->DevInst);
        const GUID net = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
        EXPECT_TRUE(IsEqualGUID(net, info.ClassGuid()));
        EXPECT_EQ(2, SimulatedMachine::Calls("SetupDiGetClassDevsW"));
    }
    EXPECT_EQ(0, SimulatedMachine::OpenSets());
    SimulatedMachine::ResetCalls();
    {
        DeviceInfoSet info;
        ASSERT_TRUE(deep->OpenDeviceInfo(GUID_NULL, info));
        EXPECT_EQ(1, SimulatedMachine::Calls("SetupDiGetClassDevsW"));
    }
    WideString name;
    const GUID system = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    EXPECT_TRUE(model.ClassNameFromGuid(system, name));
    EXPECT_STREQ(L"System", name.Text());
    EXPECT_FALSE(model.ClassNameFromGuid(GUID_NULL, name));
    EXPECT_STREQ(L"", name.Text());
}

TEST_F(DeviceTreeTest, TheDefaultMachineEnumeratesCompletely)
{
    SimulatedMachine machine; // the default machine beside the simulator
    model.Start();
    std::vector<std::wstring> paths = Rebuild(nullptr);
    EXPECT_GE(paths.size(), 60u);
    // every devnode the simulator holds is in the tree, exactly once
    typedef HDEVINFO(WINAPI * ClassDevs)(const GUID*, PCWSTR, HWND, DWORD);
    ClassDevs all = (ClassDevs)model.Api().SetupDiGetClassDevsW();
    HDEVINFO set = all(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    SP_DEVINFO_DATA element = {sizeof(element)};
    DWORD count = 0;
    while (model.Api().SetupDiEnumDeviceInfo()(set, count, &element))
        ++count;
    model.Api().SetupDiDestroyDeviceInfoList()(set);
    EXPECT_EQ((size_t)count, paths.size());
    bool sawProblem = false;
    for (DeviceNode* n = model.TopLevel().First()->children.First(); n; n = n->next)
        sawProblem |= (n->status & 0x400) != 0;
    (void)sawProblem;
}

namespace {

// A tree whose image list refuses every icon.
class RefusingTreeSink : public RecordingTreeSink {
public:
    int AddIcon(HICON) override { return -1; }
};

} // namespace

TEST_F(DeviceTreeTest, ARebuildAsksForOneSetAndOneIconPerClassAndKeepsThemBounded)
{
    SimulatedMachine machine; // the default machine: 78 devnodes, a dozen classes with icons
    // Keeps the simulator loaded past Stop, to count the icons left behind.
    HMODULE simulator = LoadLibraryW(L"setupapi.dll");
    model.Start();
    SimulatedMachine::ResetCalls();
    Rebuild(nullptr);
    EXPECT_EQ(1, SimulatedMachine::Calls("SetupDiGetClassDevsW")) << "no set per node";
    int classes = model.ClassIconCount();
    EXPECT_GE(classes, 10);
    std::vector<GUID> distinct;
    std::vector<const DeviceNode*> pending = {model.TopLevel().First()};
    while (!pending.empty()) {
        const DeviceNode* node = pending.back();
        pending.pop_back();
        for (; node; node = node->next) {
            bool seen = !node->setupClassKnown;
            for (const GUID& guid : distinct)
                seen = seen || IsEqualGUID(guid, node->setupClass);
            if (!seen)
                distinct.push_back(node->setupClass);
            if (node->children.First())
                pending.push_back(node->children.First());
        }
    }
    EXPECT_EQ((int)distinct.size(), SimulatedMachine::Calls("SetupDiLoadClassIcon"))
        << "each class is asked once, classes without an icon included";
    EXPECT_EQ(1 + classes, tree.ImageCount()) << "each icon goes into the image list once";

    for (int i = 0; i < 4; ++i) {
        Rebuild(i % 2 ? L"a" : nullptr);
        EXPECT_EQ(classes, SimulatedMachine::IconsAlive()) << "one icon per class alive, rebuild " << i;
    }
    // Nodes of a class share its icon and its image.
    const RecordingTreeSink::Item* first = nullptr;
    for (const RecordingTreeSink::Item* cpu : tree.Roots()[0]->items[0]->items[0]->items) {
        if (!first)
            first = cpu;
        if (((DeviceNode*)cpu->param)->icon == ((DeviceNode*)first->param)->icon) {
            EXPECT_EQ(first->image, cpu->image);
        }
    }
    // Names keep only their own length.
    const DeviceNode* named = (const DeviceNode*)first->param;
    EXPECT_EQ(named->name.Length() + 1, ((DeviceNode*)first->param)->name.Capacity());

    model.Stop();
    EXPECT_EQ(0, SimulatedMachine::IconsAlive()) << "stopping destroys every icon once";
    FreeLibrary(simulator);
}

TEST_F(DeviceTreeTest, AnIconTheImageListRefusesShowsTheDefaultImage)
{
    SimulatedMachine machine(SmallMachine);
    model.Start();
    RefusingTreeSink refusing;
    model.RebuildTree(refusing, nullptr);
    const RecordingTreeSink::Item* ethernet = refusing.Find(L"Ethernet Connection");
    ASSERT_NE(nullptr, ethernet);
    EXPECT_NE(nullptr, ((DeviceNode*)ethernet->param)->icon);
    EXPECT_EQ(model.DefaultImage(), ethernet->image);
    EXPECT_EQ(model.DefaultImage(), ethernet->selectedImage);
}
