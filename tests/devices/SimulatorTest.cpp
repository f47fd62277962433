// The device simulator's own tests: it is reached exactly as the product
// reaches the platform, through LoadLibraryW(L"setupapi.dll") and
// GetProcAddress, with WINEDLLOVERRIDES=setupapi=n,b choosing it under Wine.

#include <gtest/gtest.h>

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// Handles and IDs of the default machine (tools/machines/default.txt).
const DEVINST kRoot = 1;
const DEVINST kPowerButton = 8;
const DEVINST kComposite = 23;
const DEVINST kMouse = 27;
const DEVINST kVendorHid = 29;
const DEVINST kUsbLan = 31;    // problem 28, no class
const DEVINST kSerial = 37;    // problem 10
const DEVINST kShowcase = 43;  // every type
const DEVINST kWifi = 44;      // problem 22
const DEVINST kRenderer = 75;  // FRIENDLYNAME of 18,002 bytes
const DEVINST kUnknown = 77;   // no name, no class
const DEVINST kSmbios = 0x1000;
const int kDefaultDevices = 78;
const wchar_t kShowcaseId[] = L"PCI\\VEN_8086&DEV_15BC&SUBSYS_86721043&REV_10\\3&11583659&0&FE";

const GUID kNetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kSystemClass = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID kVolumeClass = {0x71A27CDD, 0x812A, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
const GUID kLegacyDriverClass = {0x8ECC055D, 0x047F, 0x11D1, {0xA5, 0x37, 0x00, 0x00, 0xF8, 0x75, 0x3E, 0xD1}};
const GUID kWpdClass = {0xEEC5AD98, 0x8080, 0x425F, {0x92, 0x2A, 0xDA, 0xBF, 0x3D, 0xE3, 0xF6, 0x9A}};
const DEVPROPKEY kName = {{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 10};
const DEVPROPKEY kDriverDate = {{0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 2};
const DEVPROPKEY kIsPresent = {{0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 5};
const DEVPROPKEY kSafeRemovalRequired = {{0xAFD97640, 0x86A3, 0x4210, {0xB6, 0x7C, 0x28, 0x9C, 0x41, 0xAA, 0xBE, 0x55}}, 2};
const GUID kTestKeys = {0x3D1F8E52, 0x7A3C, 0x4C1B, {0x9E, 0x84, 0x2B, 0x6F, 0x0D, 0x5A, 0x7C, 0x91}};
const DEVPROPKEY kLiesLarger = {kTestKeys, 2};
const DEVPROPKEY kLiesSmaller = {kTestKeys, 3};
const DEVPROPKEY kUnknownType = {kTestKeys, 1};

typedef WINBOOL(WINAPI* ClassPropertyKeysFn)(const GUID*, DEVPROPKEY*, DWORD, PDWORD, DWORD);
typedef long(WINAPI* CallsFn)(const char*);
typedef void(WINAPI* ResetCallsFn)(void);
typedef int(WINAPI* OpenSetsFn)(void);
typedef const char*(WINAPI* LastErrorFn)(void);

template <typename T>
T Bind(HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

#define SIM_SLOT(name) decltype(&::name) name = nullptr
#define SIM_BIND(name) name = Bind<decltype(&::name)>(module, #name)

// The simulator's entry points, bound by name.
struct SimulatorApi {
    HMODULE module = nullptr;
    SIM_SLOT(CM_Locate_DevNodeW);
    SIM_SLOT(CM_Locate_DevNode_ExW);
    SIM_SLOT(CM_Get_Child);
    SIM_SLOT(CM_Get_Child_Ex);
    SIM_SLOT(CM_Get_Sibling);
    SIM_SLOT(CM_Get_Parent);
    SIM_SLOT(CM_Get_Device_IDW);
    SIM_SLOT(CM_Get_Device_ID_ExW);
    SIM_SLOT(CM_Get_DevNode_Registry_PropertyW);
    SIM_SLOT(CM_Get_DevNode_Registry_Property_ExW);
    SIM_SLOT(CM_Get_DevNode_Status);
    SIM_SLOT(CM_Open_DevNode_Key);
    SIM_SLOT(CM_Open_DevNode_Key_Ex);
    SIM_SLOT(CM_Connect_MachineW);
    SIM_SLOT(CM_Disconnect_Machine);
    SIM_SLOT(CM_Get_Device_ID_List_SizeW);
    SIM_SLOT(SetupDiGetClassDevsW);
    SIM_SLOT(SetupDiGetClassDevsExW);
    SIM_SLOT(SetupDiEnumDeviceInfo);
    SIM_SLOT(SetupDiDestroyDeviceInfoList);
    SIM_SLOT(SetupDiGetDevicePropertyW);
    SIM_SLOT(SetupDiGetDevicePropertyKeys);
    SIM_SLOT(SetupDiClassNameFromGuidW);
    SIM_SLOT(SetupDiOpenClassRegKeyExW);
    SIM_SLOT(SetupDiLoadClassIcon);
    SIM_SLOT(SetupDiGetDeviceInstanceIdW);
    SIM_SLOT(SetupDiGetDeviceRegistryPropertyW);
    SIM_SLOT(SetupDiOpenDeviceInfoW);
    SIM_SLOT(SetupDiEnumDeviceInterfaces);
    SIM_SLOT(SetupOpenInfFileW);
    ClassPropertyKeysFn SetupDiGetClassPropertyKeys = nullptr;
    CallsFn SimulatorCalls = nullptr;
    ResetCallsFn SimulatorResetCalls = nullptr;
    OpenSetsFn SimulatorOpenSets = nullptr;
    OpenSetsFn SimulatorIconsAlive = nullptr;
    LastErrorFn SimulatorLastError = nullptr;

    bool Load(const wchar_t* file)
    {
        module = LoadLibraryW(file);
        if (!module)
            return false;
        SIM_BIND(CM_Locate_DevNodeW);
        SIM_BIND(CM_Locate_DevNode_ExW);
        SIM_BIND(CM_Get_Child);
        SIM_BIND(CM_Get_Child_Ex);
        SIM_BIND(CM_Get_Sibling);
        SIM_BIND(CM_Get_Parent);
        SIM_BIND(CM_Get_Device_IDW);
        SIM_BIND(CM_Get_Device_ID_ExW);
        SIM_BIND(CM_Get_DevNode_Registry_PropertyW);
        SIM_BIND(CM_Get_DevNode_Registry_Property_ExW);
        SIM_BIND(CM_Get_DevNode_Status);
        SIM_BIND(CM_Open_DevNode_Key);
        SIM_BIND(CM_Open_DevNode_Key_Ex);
        SIM_BIND(CM_Connect_MachineW);
        SIM_BIND(CM_Disconnect_Machine);
        SIM_BIND(CM_Get_Device_ID_List_SizeW);
        SIM_BIND(SetupDiGetClassDevsW);
        SIM_BIND(SetupDiGetClassDevsExW);
        SIM_BIND(SetupDiEnumDeviceInfo);
        SIM_BIND(SetupDiDestroyDeviceInfoList);
        SIM_BIND(SetupDiGetDevicePropertyW);
        SIM_BIND(SetupDiGetDevicePropertyKeys);
        SIM_BIND(SetupDiClassNameFromGuidW);
        SIM_BIND(SetupDiOpenClassRegKeyExW);
        SIM_BIND(SetupDiLoadClassIcon);
        SIM_BIND(SetupDiGetDeviceInstanceIdW);
        SIM_BIND(SetupDiGetDeviceRegistryPropertyW);
        SIM_BIND(SetupDiOpenDeviceInfoW);
        SIM_BIND(SetupDiEnumDeviceInterfaces);
        SIM_BIND(SetupOpenInfFileW);
        SetupDiGetClassPropertyKeys = Bind<ClassPropertyKeysFn>(module, "SetupDiGetClassPropertyKeys");
        SimulatorCalls = Bind<CallsFn>(module, "SimulatorCalls");
        SimulatorResetCalls = Bind<ResetCallsFn>(module, "SimulatorResetCalls");
        SimulatorOpenSets = Bind<OpenSetsFn>(module, "SimulatorOpenSets");
        SimulatorIconsAlive = Bind<OpenSetsFn>(module, "SimulatorIconsAlive");
        SimulatorLastError = Bind<LastErrorFn>(module, "SimulatorLastError");
        return SimulatorCalls != nullptr;
    }

    void Release()
    {
        if (module)
            FreeLibrary(module);
        module = nullptr;
    }
};

std::wstring BinDirectory()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path, length);
    return exe.substr(0, exe.find_last_of(L"\\/") + 1);
}

void WriteFileBytes(const std::wstring& path, const std::string& content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, content.data(), (DWORD)content.size(), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(content.size(), written);
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string content(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &content[0], (DWORD)content.size(), &read, nullptr);
    CloseHandle(file);
    return content;
}

// Walks the tree depth first through child and sibling, as the device model does.
void Walk(const SimulatorApi& api, DEVINST devnode, std::vector<DEVINST>& order, size_t limit = 100000)
{
    for (;;) {
        order.push_back(devnode);
        if (order.size() >= limit)
            return;
        DEVINST child = 0;
        if (api.CM_Get_Child(&child, devnode, 0) == CR_SUCCESS)
            Walk(api, child, order, limit);
        DEVINST next = 0;
        if (order.size() >= limit || api.CM_Get_Sibling(&next, devnode, 0) != CR_SUCCESS)
            return;
        devnode = next;
    }
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
        ASSERT_TRUE(api_.Load(L"setupapi.dll"))
            << "setupapi.dll is not the device simulator (run with WINEDLLOVERRIDES=setupapi=n,b)";
        DEVINST root = 0;
        ASSERT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Locate_DevNodeW(&root, nullptr, 0)) << api_.SimulatorLastError();
        setsAtStart_ = api_.SimulatorOpenSets();
    }

    void TearDown() override
    {
        EXPECT_EQ(setsAtStart_, api_.SimulatorOpenSets()) << "a device information set was left open";
        // Back to the default machine for whoever runs next in this process.
        SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
        DEVINST root = 0;
        api_.CM_Locate_DevNodeW(&root, nullptr, 0);
        for (const std::wstring& file : files_)
            DeleteFileW(file.c_str());
        api_.Release();
    }

    // A machine file of this test, chosen through QUILLMERE_SIM_MACHINE.
    std::wstring WriteMachine(const std::string& content, const wchar_t* name = L"machine")
    {
        wchar_t directory[MAX_PATH];
        GetTempPathW(MAX_PATH, directory);
        std::wstring path = std::wstring(directory) + L"quillsim_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                            name + L".txt";
        WriteFileBytes(path, content);
        files_.push_back(path);
        return path;
    }

    CONFIGRET UseMachine(const std::wstring& path)
    {
        SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", path.c_str());
        DEVINST root = 0;
        return api_.CM_Locate_DevNodeW(&root, nullptr, 0);
    }

    std::wstring DeviceId(DEVINST devnode)
    {
        wchar_t id[400] = {};
        if (api_.CM_Get_Device_IDW(devnode, id, 400, 0) != CR_SUCCESS)
            return L"<none>";
        return id;
    }

    std::vector<DEVINST> SetMembers(HDEVINFO set)
    {
        std::vector<DEVINST> members;
        SP_DEVINFO_DATA element = {sizeof(element)};
        for (DWORD i = 0; api_.SetupDiEnumDeviceInfo(set, i, &element); ++i)
            members.push_back(element.DevInst);
        return members;
    }

    // The set of a class and the element of one of its devices.
    HDEVINFO OpenElement(const GUID& setupClass, DEVINST devnode, SP_DEVINFO_DATA& element)
    {
        HDEVINFO set = api_.SetupDiGetClassDevsW(&setupClass, nullptr, nullptr, 0);
        element.cbSize = sizeof(element);
        for (DWORD i = 0; set != INVALID_HANDLE_VALUE && api_.SetupDiEnumDeviceInfo(set, i, &element); ++i) {
            if (element.DevInst == devnode)
                return set;
        }
        if (set != INVALID_HANDLE_VALUE)
            api_.SetupDiDestroyDeviceInfoList(set);
        return INVALID_HANDLE_VALUE;
    }

    std::vector<BYTE> RegistryProperty(DEVINST devnode, ULONG code, ULONG* type = nullptr)
    {
        std::vector<BYTE> data(40000);
        ULONG length = (ULONG)data.size();
        ULONG kind = 0;
        if (api_.CM_Get_DevNode_Registry_PropertyW(devnode, code, &kind, data.data(), &length, 0) != CR_SUCCESS)
            return std::vector<BYTE>();
        if (type)
            *type = kind;
        data.resize(length);
        return data;
    }

    SimulatorApi api_;
    std::vector<std::wstring> files_;
    int setsAtStart_ = 0;
};

const char kSmallMachine[] =
    "setupclass {4D36E97D-E325-11CE-BFC1-08002BE10318} System\n"
    "  icon 3C7DBF\n"
    "device HTREE\\ROOT\\0\n"
    "  device ROOT\\A\\0000\n"
    "    class System\n"
    "    reg DEVICEDESC sz \"Device A\"\n"
    "  device ROOT\\B\\0000\n"
    "    class System\n";

} // namespace

TEST_F(SimulatorTest, WalksTheDefaultMachineDepthFirstWithHandlesInFileOrder)
{
    DEVINST root = 0;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Locate_DevNodeW(&root, nullptr, 0));
    EXPECT_EQ(kRoot, root);
    EXPECT_EQ(L"HTREE\\ROOT\\0", DeviceId(root));

    std::vector<DEVINST> order;
    Walk(api_, root, order);
    ASSERT_EQ((size_t)kDefaultDevices, order.size());
    for (int i = 0; i < kDefaultDevices - 1; ++i)
        EXPECT_EQ((DEVINST)(i + 1), order[i]);
    EXPECT_EQ(kSmbios, order.back()); // the one explicit handle

    // Every child names its parent; the root has neither parent nor sibling.
    for (DEVINST devnode : order) {
        DEVINST child = 0;
        if (api_.CM_Get_Child(&child, devnode, 0) != CR_SUCCESS)
            continue;
        DEVINST parent = 0;
        EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Get_Parent(&parent, child, 0));
        EXPECT_EQ(devnode, parent);
    }
    DEVINST none = 99;
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, api_.CM_Get_Parent(&none, kRoot, 0));
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, api_.CM_Get_Sibling(&none, kRoot, 0));
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, api_.CM_Get_Child(&none, kPowerButton, 0));
    EXPECT_EQ((CONFIGRET)CR_INVALID_DEVNODE, api_.CM_Get_Child(&none, 4242, 0));

    DEVINST located = 0;
    std::wstring lowerCase = kShowcaseId;
    CharLowerW(&lowerCase[0]);
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Locate_DevNodeW(&located, &lowerCase[0], 0));
    EXPECT_EQ(kShowcase, located);
    wchar_t missing[] = L"ROOT\\NOTHERE\\0000";
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_DEVNODE, api_.CM_Locate_DevNodeW(&located, missing, 0));
}

TEST_F(SimulatorTest, DeviceIdNeedsRoomForItsTerminator)
{
    wchar_t buffer[13];
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Get_Device_IDW(kRoot, buffer, 13, 0)); // 12 characters + NUL
    EXPECT_STREQ(L"HTREE\\ROOT\\0", buffer);
    EXPECT_EQ((CONFIGRET)CR_BUFFER_SMALL, api_.CM_Get_Device_IDW(kRoot, buffer, 12, 0));
    EXPECT_EQ(0, buffer[11]); // still terminated
    EXPECT_EQ((CONFIGRET)CR_INVALID_POINTER, api_.CM_Get_Device_IDW(kRoot, nullptr, 12, 0));
}

TEST_F(SimulatorTest, RegistryPropertiesArriveByteExactWithTheBufferProtocol)
{
    // Size query without a buffer.
    ULONG type = 0, length = 0;
    EXPECT_EQ((CONFIGRET)CR_BUFFER_SMALL,
              api_.CM_Get_DevNode_Registry_PropertyW(kPowerButton, CM_DRP_DEVICEDESC, &type, nullptr, &length, 0));
    EXPECT_EQ((ULONG)REG_SZ, type);
    EXPECT_EQ((wcslen(L"ACPI Power Button") + 1) * 2, length);
    length = 0;
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_VALUE,
              api_.CM_Get_DevNode_Registry_PropertyW(kPowerButton, CM_DRP_FRIENDLYNAME, &type, nullptr, &length, 0));
    EXPECT_EQ((CONFIGRET)CR_INVALID_PROPERTY,
              api_.CM_Get_DevNode_Registry_PropertyW(kPowerButton, 0, &type, nullptr, &length, 0));

    // A multi-string with an empty entry keeps it: "...0200\0\0PCI\\VEN_8086&CC_020000".
    std::vector<BYTE> compatible = RegistryProperty(kShowcase, CM_DRP_COMPATIBLEIDS, &type);
    EXPECT_EQ((ULONG)REG_MULTI_SZ, type);
    std::wstring text((const wchar_t*)compatible.data(), compatible.size() / 2);
    EXPECT_NE(std::wstring::npos, text.find(std::wstring(L"DEV_15BC\0\0PCI", 13)));
    EXPECT_EQ(std::wstring(L"\0\0", 2), text.substr(text.size() - 2));

    EXPECT_EQ(780u, RegistryProperty(kShowcase, CM_DRP_SECURITY_SDS).size());
    EXPECT_EQ(782u, RegistryProperty(kShowcase, CM_DRP_SECURITY).size());
    std::vector<BYTE> bigEndian = RegistryProperty(kShowcase, CM_DRP_DEVTYPE, &type);
    EXPECT_EQ((ULONG)REG_DWORD_BIG_ENDIAN, type);
    EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 1}), bigEndian);
    RegistryProperty(kShowcase, CM_DRP_REMOVAL_POLICY_OVERRIDE, &type);
    EXPECT_EQ(42u, type);
    RegistryProperty(kShowcase, CM_DRP_CHARACTERISTICS, &type);
    EXPECT_EQ((ULONG)REG_QWORD, type);

    // Hostile data comes as written: 9 bytes, no terminator.
    std::vector<BYTE> odd = RegistryProperty(kVendorHid, CM_DRP_UI_NUMBER_DESC_FORMAT);
    ASSERT_EQ(9u, odd.size());
    EXPECT_EQ('V', odd[0]);
    EXPECT_EQ('o', odd[8]);

    // More than the device model's 8190 bytes: too small, with the real size.
    std::vector<BYTE> buffer(8190);
    length = 8190;
    EXPECT_EQ((CONFIGRET)CR_BUFFER_SMALL, api_.CM_Get_DevNode_Registry_PropertyW(kRenderer, CM_DRP_FRIENDLYNAME, &type,
                                                                                 buffer.data(), &length, 0));
    EXPECT_EQ(18002u, length);
}

TEST_F(SimulatorTest, StatusAndProblemOfTheProblemDevices)
{
    struct Expected {
        DEVINST devnode;
        ULONG status, problem;
    } expected[] = {{kShowcase, 0x0180200A, 0}, {kUsbLan, 0x01806400, 28}, {kSerial, 0x01806400, 10},
                    {kWifi, 0x01802400, 22},    {kUnknown, 0x400, 1},       {65, 0x4180000B, 0}};
    for (const Expected& device : expected) {
        ULONG status = 1, problem = 1;
        EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Get_DevNode_Status(&status, &problem, device.devnode, 0));
        EXPECT_EQ(device.status, status) << device.devnode;
        EXPECT_EQ(device.problem, problem) << device.devnode;
    }
}

TEST_F(SimulatorTest, ClassSetsHoldTheirDevicesInHandleOrder)
{
    GUID none = {};
    HDEVINFO classless = api_.SetupDiGetClassDevsW(&none, nullptr, nullptr, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, classless);
    EXPECT_EQ(setsAtStart_ + 1, api_.SimulatorOpenSets());
    EXPECT_EQ((std::vector<DEVINST>{kRoot, kUsbLan, kUnknown}), SetMembers(classless));
    SP_DEVINFO_DATA element = {sizeof(element)};
    ASSERT_TRUE(api_.SetupDiEnumDeviceInfo(classless, 1, &element));
    EXPECT_EQ(0, memcmp(&none, &element.ClassGuid, sizeof(GUID)));
    EXPECT_FALSE(api_.SetupDiEnumDeviceInfo(classless, 3, &element));
    EXPECT_EQ((DWORD)ERROR_NO_MORE_ITEMS, GetLastError());
    element.cbSize = sizeof(element) + 4; // the size of no platform's record
    EXPECT_FALSE(api_.SetupDiEnumDeviceInfo(classless, 0, &element));
    EXPECT_EQ((DWORD)ERROR_INVALID_USER_BUFFER, GetLastError());
    EXPECT_TRUE(api_.SetupDiDestroyDeviceInfoList(classless));
    EXPECT_FALSE(api_.SetupDiDestroyDeviceInfoList(classless));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());

    HDEVINFO net = api_.SetupDiGetClassDevsW(&kNetClass, nullptr, nullptr, 0);
    EXPECT_EQ((std::vector<DEVINST>{kShowcase, kWifi, 72, 73, 74}), SetMembers(net));
    ASSERT_TRUE(api_.SetupDiEnumDeviceInfo(net, 0, &(element = {sizeof(element)})));
    EXPECT_EQ(0, memcmp(&kNetClass, &element.ClassGuid, sizeof(GUID)));
    api_.SetupDiDestroyDeviceInfoList(net);

    HDEVINFO all = api_.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    std::vector<DEVINST> everything = SetMembers(all);
    ASSERT_EQ((size_t)kDefaultDevices, everything.size());
    EXPECT_EQ(kSmbios, everything.back());
    api_.SetupDiDestroyDeviceInfoList(all);

    HDEVINFO software = api_.SetupDiGetClassDevsW(nullptr, L"swd", nullptr, DIGCF_ALLCLASSES);
    std::vector<DEVINST> swd = SetMembers(software);
    EXPECT_EQ(11u, swd.size());
    for (DEVINST devnode : swd)
        EXPECT_EQ(0u, DeviceId(devnode).find(L"SWD\\"));
    api_.SetupDiDestroyDeviceInfoList(software);

    EXPECT_EQ(INVALID_HANDLE_VALUE, api_.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    HDEVINFO empty = api_.SetupDiGetClassDevsW(&kLegacyDriverClass, nullptr, nullptr, 0);
    EXPECT_EQ(1u, SetMembers(empty).size());
    api_.SetupDiDestroyDeviceInfoList(empty);
}

TEST_F(SimulatorTest, DevicePropertiesFollowTheSizeProtocol)
{
    SP_DEVINFO_DATA element;
    HDEVINFO set = OpenElement(kNetClass, kShowcase, element);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);

    DEVPROPTYPE type = 99;
    DWORD required = 99;
    DEVPROPKEY absent = {kTestKeys, 77};
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &element, &absent, &type, nullptr, 0, &required, 0));
    EXPECT_EQ((DWORD)ERROR_NOT_FOUND, GetLastError());
    EXPECT_EQ((DEVPROPTYPE)DEVPROP_TYPE_EMPTY, type);

    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &element, &kDriverDate, &type, nullptr, 0, &required, 0));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ((DEVPROPTYPE)DEVPROP_TYPE_FILETIME, type);
    EXPECT_EQ(8u, required);
    FILETIME driverDate = {};
    ASSERT_TRUE(api_.SetupDiGetDevicePropertyW(set, &element, &kDriverDate, &type, (PBYTE)&driverDate, 8, nullptr, 0));
    SYSTEMTIME time = {};
    FileTimeToSystemTime(&driverDate, &time);
    EXPECT_EQ(2023, time.wYear);
    EXPECT_EQ(31, time.wDay);
    EXPECT_EQ(23, time.wHour);
    EXPECT_EQ(59, time.wSecond);

    BYTE present = 0;
    ASSERT_TRUE(api_.SetupDiGetDevicePropertyW(set, &element, &kIsPresent, &type, &present, 1, &required, 0));
    EXPECT_EQ((DEVPROPTYPE)DEVPROP_TYPE_BOOLEAN, type);
    EXPECT_EQ(0xFF, present);

    // Lying sizes: the report is the lie, the copy needs the real size.
    std::vector<BYTE> buffer(4096);
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &element, &kLiesLarger, &type, nullptr, 0, &required, 0));
    EXPECT_EQ(4096u, required);
    EXPECT_TRUE(api_.SetupDiGetDevicePropertyW(set, &element, &kLiesLarger, &type, buffer.data(), required,
                                               &required, 0));
    EXPECT_STREQ(L"short", (const wchar_t*)buffer.data());
    api_.SetupDiGetDevicePropertyW(set, &element, &kLiesSmaller, &type, nullptr, 0, &required, 0);
    EXPECT_EQ(2u, required);
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &element, &kLiesSmaller, &type, buffer.data(), required,
                                                &required, 0));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());

    api_.SetupDiGetDevicePropertyW(set, &element, &kUnknownType, &type, nullptr, 0, &required, 0);
    EXPECT_EQ(0x99u, type);
    EXPECT_EQ(3u, required);
    // Listed but empty: the size query succeeds with nothing to read.
    EXPECT_TRUE(api_.SetupDiGetDevicePropertyW(set, &element, &kSafeRemovalRequired, &type, nullptr, 0, &required, 0));
    EXPECT_EQ((DEVPROPTYPE)DEVPROP_TYPE_EMPTY, type);
    EXPECT_EQ(0u, required);

    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &element, &kIsPresent, &type, nullptr, 4, &required, 0));
    EXPECT_EQ((DWORD)ERROR_INVALID_USER_BUFFER, GetLastError());
    SP_DEVINFO_DATA stranger = element;
    stranger.DevInst = kPowerButton; // a device of another set
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &stranger, &kIsPresent, &type, &present, 1, &required, 0));
    EXPECT_EQ((DWORD)ERROR_NO_SUCH_DEVINST, GetLastError());
    api_.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimulatorTest, PropertyKeysAndClassNamesFollowTheSizeProtocol)
{
    SP_DEVINFO_DATA element;
    HDEVINFO set = OpenElement(kNetClass, kShowcase, element);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    DWORD count = 0;
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyKeys(set, &element, nullptr, 0, &count, 0));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    ASSERT_GT(count, 40u);
    std::vector<DEVPROPKEY> keys(count);
    DWORD again = 0;
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyKeys(set, &element, keys.data(), count - 1, &again, 0));
    ASSERT_TRUE(api_.SetupDiGetDevicePropertyKeys(set, &element, keys.data(), count, &again, 0));
    EXPECT_EQ(count, again);
    EXPECT_EQ(0, memcmp(&kName, &keys.front(), sizeof(DEVPROPKEY))); // file order
    EXPECT_EQ(0, memcmp(&kLiesSmaller, &keys.back(), sizeof(DEVPROPKEY)));
    api_.SetupDiDestroyDeviceInfoList(set);

    ASSERT_NE(nullptr, api_.SetupDiGetClassPropertyKeys);
    EXPECT_FALSE(api_.SetupDiGetClassPropertyKeys(&kNetClass, nullptr, 0, &count, 1));
    EXPECT_EQ(5u, count);
    keys.assign(count, DEVPROPKEY());
    EXPECT_TRUE(api_.SetupDiGetClassPropertyKeys(&kNetClass, keys.data(), count, &count, 1));
    EXPECT_EQ(0, memcmp(&kName, &keys[0], sizeof(DEVPROPKEY)));
    EXPECT_FALSE(api_.SetupDiGetClassPropertyKeys(&kNetClass, nullptr, 0, &count, 2));
    EXPECT_EQ(2u, count);
    EXPECT_TRUE(api_.SetupDiGetClassPropertyKeys(&kVolumeClass, keys.data(), 5, &count, 1));
    EXPECT_FALSE(api_.SetupDiGetClassPropertyKeys(&kNetClass, nullptr, 0, &count, 3));
    EXPECT_EQ((DWORD)ERROR_INVALID_FLAGS, GetLastError());
    EXPECT_FALSE(api_.SetupDiGetClassPropertyKeys(&kWpdClass, nullptr, 0, &count, 1));
    EXPECT_EQ((DWORD)ERROR_INVALID_CLASS, GetLastError());

    wchar_t name[32] = {};
    EXPECT_TRUE(api_.SetupDiClassNameFromGuidW(&kNetClass, name, 32, nullptr));
    EXPECT_STREQ(L"Net", name);
    DWORD needed = 0;
    EXPECT_FALSE(api_.SetupDiClassNameFromGuidW(&kNetClass, name, 3, &needed));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(4u, needed);
    EXPECT_FALSE(api_.SetupDiClassNameFromGuidW(&kWpdClass, name, 32, nullptr)); // used, never declared
    EXPECT_EQ((DWORD)ERROR_INVALID_CLASS, GetLastError());
}

TEST_F(SimulatorTest, ElementReadsMatchTheConfigurationManager)
{
    SP_DEVINFO_DATA element;
    HDEVINFO set = OpenElement(kNetClass, kShowcase, element);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    wchar_t id[200];
    DWORD required = 0;
    EXPECT_FALSE(api_.SetupDiGetDeviceInstanceIdW(set, &element, id, 10, &required));
    EXPECT_EQ(wcslen(kShowcaseId) + 1, required);
    EXPECT_TRUE(api_.SetupDiGetDeviceInstanceIdW(set, &element, id, 200, nullptr));
    EXPECT_STREQ(kShowcaseId, id);
    DWORD type = 0;
    EXPECT_FALSE(api_.SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_SECURITY, &type, nullptr, 0, &required));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(782u, required);
    EXPECT_EQ((DWORD)REG_BINARY, type);

    // Opening by instance ID adds the device to the set, once.
    SP_DEVINFO_DATA opened = {sizeof(opened)};
    EXPECT_TRUE(api_.SetupDiOpenDeviceInfoW(set, L"ROOT\\UNKNOWN\\0000", nullptr, 0, &opened));
    EXPECT_EQ(kUnknown, opened.DevInst);
    EXPECT_TRUE(api_.SetupDiOpenDeviceInfoW(set, kShowcaseId, nullptr, 0, &opened));
    EXPECT_EQ(6u, SetMembers(set).size());
    EXPECT_FALSE(api_.SetupDiOpenDeviceInfoW(set, L"ROOT\\NOTHERE\\0", nullptr, 0, &opened));
    EXPECT_EQ((DWORD)ERROR_NO_SUCH_DEVINST, GetLastError());
    api_.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimulatorTest, DeviceAndClassKeysAreRealRegistryKeys)
{
    HKEY key = nullptr;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS,
              api_.CM_Open_DevNode_Key(kShowcase, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_HARDWARE));
    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Exact1560", nullptr, &type, nullptr, &size));
    EXPECT_EQ(1560u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Over1561", nullptr, &type, nullptr, &size));
    EXPECT_EQ(1561u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Unterminated", nullptr, &type, nullptr, &size));
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(6u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"OddSize", nullptr, &type, nullptr, &size));
    EXPECT_EQ(7u, size);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Unusual", nullptr, &type, nullptr, &size));
    EXPECT_EQ(42u, type);
    wchar_t text[64];
    size = sizeof(text);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"", nullptr, &type, (BYTE*)text, &size));
    EXPECT_STREQ(L"Device Parameters", text);
    std::vector<size_t> nameLengths;
    for (DWORD index = 0;; ++index) {
        wchar_t name[1024];
        DWORD length = 1024;
        if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        nameLengths.push_back(length);
    }
    EXPECT_NE(nameLengths.end(), std::find(nameLengths.begin(), nameLengths.end(), 778u));
    EXPECT_NE(nameLengths.end(), std::find(nameLengths.begin(), nameLengths.end(), 779u));
    HKEY sub = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, L"Interrupt Management\\MessageSignaledInterruptProperties", 0,
                                           KEY_READ, &sub));
    RegCloseKey(sub);
    RegCloseKey(key);

    ASSERT_EQ((CONFIGRET)CR_SUCCESS,
              api_.CM_Open_DevNode_Key(kShowcase, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_SOFTWARE));
    size = sizeof(text);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"ClassGUID", nullptr, &type, (BYTE*)text, &size));
    EXPECT_STREQ(L"{4D36E972-E325-11CE-BFC1-08002BE10318}", text);
    RegCloseKey(key);

    // A key without values, and one with only a sub-key.
    for (DEVINST devnode : {kMouse, kComposite}) {
        ASSERT_EQ((CONFIGRET)CR_SUCCESS,
                  api_.CM_Open_DevNode_Key(devnode, KEY_READ, 0, RegDisposition_OpenExisting, &key, 0));
        DWORD values = 99, subKeys = 99;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        EXPECT_EQ(0u, values);
        EXPECT_EQ(devnode == kComposite ? 1u : 0u, subKeys);
        RegCloseKey(key);
    }
    key = (HKEY)1;
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_REGISTRY_KEY,
              api_.CM_Open_DevNode_Key(kUsbLan, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_SOFTWARE));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_REGISTRY_KEY,
              api_.CM_Open_DevNode_Key(kShowcase, KEY_READ, 0, RegDisposition_OpenExisting, &key, CM_REGISTRY_USER));

    key = api_.SetupDiOpenClassRegKeyExW(&kNetClass, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
    ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key);
    size = sizeof(text);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"", nullptr, &type, (BYTE*)text, &size));
    EXPECT_STREQ(L"Network adapters", text);
    RegCloseKey(key);
    key = api_.SetupDiOpenClassRegKeyExW(&kNetClass, KEY_READ, DIOCR_INTERFACE, nullptr, nullptr);
    ASSERT_NE((HKEY)INVALID_HANDLE_VALUE, key);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"DefaultInterface", nullptr, &type, nullptr, &size));
    RegCloseKey(key);
    EXPECT_EQ((HKEY)INVALID_HANDLE_VALUE,
              api_.SetupDiOpenClassRegKeyExW(&kLegacyDriverClass, KEY_READ, DIOCR_INTERFACE, nullptr, nullptr));
    EXPECT_EQ((HKEY)INVALID_HANDLE_VALUE,
              api_.SetupDiOpenClassRegKeyExW(&kWpdClass, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_CLASS, GetLastError());
}

TEST_F(SimulatorTest, ClassIconsAreRealIconsInTheClassColour)
{
    auto centreLeftPixel = [](HICON icon) -> COLORREF {
        ICONINFO info = {};
        if (!GetIconInfo(icon, &info))
            return CLR_INVALID;
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, info.hbmColor);
        COLORREF pixel = bitmap.bmWidth == 32 && bitmap.bmHeight == 32 ? GetPixel(dc, 6, 16) : CLR_INVALID;
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        return pixel;
    };
    HICON net = nullptr, again = nullptr, system = nullptr;
    int mini = -1;
    ASSERT_TRUE(api_.SetupDiLoadClassIcon(&kNetClass, &net, &mini));
    ASSERT_TRUE(api_.SetupDiLoadClassIcon(&kNetClass, &again, nullptr));
    ASSERT_TRUE(api_.SetupDiLoadClassIcon(&kSystemClass, &system, nullptr));
    EXPECT_EQ(0, mini);
    EXPECT_NE(net, again); // each caller owns its icon
    COLORREF netPixel = centreLeftPixel(net);
    EXPECT_NE(CLR_INVALID, netPixel);
    EXPECT_EQ(netPixel, centreLeftPixel(again));
    EXPECT_NE(netPixel, centreLeftPixel(system));
    EXPECT_TRUE(DestroyIcon(net));
    EXPECT_TRUE(DestroyIcon(again));
    EXPECT_TRUE(DestroyIcon(system));

    HICON none = nullptr;
    EXPECT_FALSE(api_.SetupDiLoadClassIcon(&kLegacyDriverClass, &none, nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_CLASS, GetLastError());
    EXPECT_FALSE(api_.SetupDiLoadClassIcon(&kWpdClass, &none, nullptr));
    EXPECT_EQ(nullptr, none);
}

TEST_F(SimulatorTest, IconsCountAgainstTheQuotaOfUserObjectsUntilDestroyed)
{
    // Windows' quota is 10,000 objects; a small one shows the same at less cost.
    const int quota = 40;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS,
              UseMachine(WriteMachine("quota 40\nsetupclass {4D36E972-E325-11CE-BFC1-08002BE10318} Net\n"
                                      "  icon 1E90FF\ndevice ROOT\n")));
    int before = api_.SimulatorIconsAlive();
    std::vector<HICON> icons;
    HICON icon = nullptr;
    while ((int)icons.size() < quota + 1 && api_.SetupDiLoadClassIcon(&kNetClass, &icon, nullptr))
        icons.push_back(icon);
    EXPECT_EQ((size_t)(quota - before), icons.size()) << "the call fails past the quota";
    EXPECT_EQ((DWORD)ERROR_NO_MORE_USER_HANDLES, GetLastError());
    EXPECT_EQ(quota, api_.SimulatorIconsAlive());
    // Destroying frees room again, one for one.
    DestroyIcon(icons.back());
    icons.pop_back();
    EXPECT_EQ(quota - 1, api_.SimulatorIconsAlive());
    ASSERT_TRUE(api_.SetupDiLoadClassIcon(&kNetClass, &icon, nullptr));
    icons.push_back(icon);
    EXPECT_FALSE(api_.SetupDiLoadClassIcon(&kNetClass, &icon, nullptr));
    for (HICON owned : icons)
        DestroyIcon(owned);
    EXPECT_EQ(before, api_.SimulatorIconsAlive());
}

TEST_F(SimulatorTest, RemoteConnectionsServeTheSameMachine)
{
    HMACHINE machine = nullptr;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Connect_MachineW(L"\\\\BUILD01", &machine));
    ASSERT_NE(nullptr, machine);
    DEVINST root = 0, child = 0;
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Locate_DevNode_ExW(&root, nullptr, 0, machine));
    EXPECT_EQ(kRoot, root);
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Get_Child_Ex(&child, root, 0, machine));
    EXPECT_EQ(2u, child);
    wchar_t id[64];
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Get_Device_ID_ExW(kRoot, id, 64, 0, machine));
    EXPECT_EQ((CONFIGRET)CR_INVALID_POINTER, api_.CM_Get_Child_Ex(&child, root, 0, (HMACHINE)0x1234));
    HKEY key = nullptr;
    EXPECT_EQ((CONFIGRET)CR_SUCCESS,
              api_.CM_Open_DevNode_Key_Ex(kShowcase, KEY_READ, 0, RegDisposition_OpenExisting, &key, 1, machine));
    RegCloseKey(key);
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Disconnect_Machine(machine));
    EXPECT_NE((CONFIGRET)CR_SUCCESS, api_.CM_Disconnect_Machine(machine));
    EXPECT_NE((CONFIGRET)CR_SUCCESS, api_.CM_Get_Child_Ex(&child, root, 0, machine));

    HMACHINE offline = (HMACHINE)1;
    EXPECT_EQ((CONFIGRET)CR_MACHINE_UNAVAILABLE, api_.CM_Connect_MachineW(L"\\\\OFFLINE", &offline));
    EXPECT_EQ(nullptr, offline);
    EXPECT_EQ((CONFIGRET)CR_MACHINE_UNAVAILABLE, api_.CM_Connect_MachineW(L"offline", &offline));
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              api_.SetupDiGetClassDevsExW(&kNetClass, nullptr, nullptr, 0, nullptr, L"\\\\OFFLINE", nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_MACHINENAME, GetLastError());
    HDEVINFO remote = api_.SetupDiGetClassDevsExW(&kNetClass, nullptr, nullptr, 0, nullptr, L"\\\\BUILD01", nullptr);
    EXPECT_EQ(5u, SetMembers(remote).size());
    api_.SetupDiDestroyDeviceInfoList(remote);
}

TEST_F(SimulatorTest, InjectedFailuresHitExactlyTheNamedCallOfTheNamedDevice)
{
    std::wstring path = WriteMachine(
        "fail CM_Get_DevNode_Status\n"
        "setupclass {4D36E97D-E325-11CE-BFC1-08002BE10318} System\n"
        "  icon 3C7DBF\n"
        "  fail SetupDiLoadClassIcon\n"
        "setupclass {4D36E972-E325-11CE-BFC1-08002BE10318} Net\n"
        "  icon 1E90FF\n"
        "device HTREE\\ROOT\\0\n"
        "  device ROOT\\A\\0000\n"
        "    class Net\n"
        "    fail CM_Get_Device_IDW\n"
        "    fail CM_Open_DevNode_Key\n"
        "    fail SetupDiGetDevicePropertyW\n"
        "    fail SetupDiEnumDeviceInfo\n"
        "    key hardware\n"
        "    prop DEVPKEY_NAME string \"A\"\n"
        "  device ROOT\\B\\0000\n"
        "    class Net\n"
        "    key hardware\n"
        "    prop DEVPKEY_NAME string \"B\"\n");
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(path)) << api_.SimulatorLastError();
    const DEVINST a = 2, b = 3;
    wchar_t id[64];
    EXPECT_EQ((CONFIGRET)CR_FAILURE, api_.CM_Get_Device_IDW(a, id, 64, 0));
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Get_Device_ID_ExW(a, id, 64, 0, nullptr)); // only the named call
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Get_Device_IDW(b, id, 64, 0));
    HKEY key = nullptr;
    EXPECT_EQ((CONFIGRET)CR_NO_SUCH_REGISTRY_KEY, api_.CM_Open_DevNode_Key(a, KEY_READ, 0, 1, &key, 0));
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Open_DevNode_Key_Ex(a, KEY_READ, 0, 1, &key, 0, nullptr));
    RegCloseKey(key);
    ULONG status, problem;
    EXPECT_EQ((CONFIGRET)CR_FAILURE, api_.CM_Get_DevNode_Status(&status, &problem, b, 0));

    HDEVINFO set = api_.SetupDiGetClassDevsW(&kNetClass, nullptr, nullptr, 0);
    SP_DEVINFO_DATA element = {sizeof(element)};
    EXPECT_FALSE(api_.SetupDiEnumDeviceInfo(set, 0, &element));
    EXPECT_EQ((DWORD)ERROR_GEN_FAILURE, GetLastError());
    ASSERT_TRUE(api_.SetupDiEnumDeviceInfo(set, 1, &element));
    DEVPROPTYPE type;
    DWORD required;
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &element, &kName, &type, nullptr, 0, &required, 0));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError()); // B reads normally
    ASSERT_TRUE(api_.SetupDiOpenDeviceInfoW(set, L"ROOT\\A\\0000", nullptr, 0, &element));
    EXPECT_FALSE(api_.SetupDiGetDevicePropertyW(set, &element, &kName, &type, nullptr, 0, &required, 0));
    EXPECT_EQ((DWORD)ERROR_GEN_FAILURE, GetLastError());
    api_.SetupDiDestroyDeviceInfoList(set);

    HICON icon = nullptr;
    EXPECT_FALSE(api_.SetupDiLoadClassIcon(&kSystemClass, &icon, nullptr));
    EXPECT_EQ((DWORD)ERROR_GEN_FAILURE, GetLastError());
    ASSERT_TRUE(api_.SetupDiLoadClassIcon(&kNetClass, &icon, nullptr));
    DestroyIcon(icon);
}

TEST_F(SimulatorTest, ReloadsWhenTheFileChangesAndKeepsOpenSetsWhole)
{
    std::wstring path = WriteMachine(kSmallMachine);
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(path));
    std::vector<DEVINST> order;
    Walk(api_, kRoot, order);
    EXPECT_EQ(3u, order.size());
    HDEVINFO before = api_.SetupDiGetClassDevsW(&kSystemClass, nullptr, nullptr, 0);
    HKEY none = nullptr;
    EXPECT_NE((CONFIGRET)CR_SUCCESS, api_.CM_Open_DevNode_Key(2, KEY_READ, 0, 1, &none, 0));

    // Rewritten at once (the file time may not even change), one device more.
    WriteFileBytes(path, std::string(kSmallMachine) +
                             "  device ROOT\\C\\0000 handle=0x1000\n"
                             "    key hardware\n"
                             "      value Marker dword 7\n");
    DEVINST root = 0;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Locate_DevNodeW(&root, nullptr, 0));
    order.clear();
    Walk(api_, kRoot, order);
    EXPECT_EQ((std::vector<DEVINST>{1, 2, 3, 0x1000}), order);
    HKEY key = nullptr;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Open_DevNode_Key(0x1000, KEY_READ, 0, 1, &key, 0));
    RegCloseKey(key);

    // The set made before the reload still walks the machine it was made from.
    EXPECT_EQ((std::vector<DEVINST>{2, 3}), SetMembers(before));
    api_.SetupDiDestroyDeviceInfoList(before);

    // Each reload replaces this copy's registry sub-tree instead of adding one.
    WriteFileBytes(path, kSmallMachine);
    api_.CM_Locate_DevNodeW(&root, nullptr, 0);
    HKEY simulator = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tollbrook\\QuillmereSimulator", 0,
                                           KEY_READ, &simulator));
    std::wstring mine = std::to_wstring(GetCurrentProcessId()) + L".";
    int trees = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[128];
        DWORD length = 128;
        if (RegEnumKeyExW(simulator, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (std::wstring(name).compare(0, mine.size(), mine) == 0)
            ++trees;
    }
    RegCloseKey(simulator);
    EXPECT_LE(trees, 1);
}

TEST_F(SimulatorTest, MachineVariableSwitchesBetweenMachines)
{
    std::wstring first = WriteMachine("device HTREE\\ROOT\\FIRST\n", L"first");
    std::wstring second = WriteMachine("device HTREE\\ROOT\\SECOND\n  device ROOT\\X\\0\n", L"second");
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(first));
    EXPECT_EQ(L"HTREE\\ROOT\\FIRST", DeviceId(kRoot));
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(second));
    EXPECT_EQ(L"HTREE\\ROOT\\SECOND", DeviceId(kRoot));
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
    DEVINST root = 0;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Locate_DevNodeW(&root, nullptr, 0));
    EXPECT_EQ(L"HTREE\\ROOT\\0", DeviceId(kRoot)); // machine.txt beside the DLL again
    EXPECT_EQ((CONFIGRET)CR_FAILURE, UseMachine(first + L".missing"));
    EXPECT_NE(nullptr, strstr(api_.SimulatorLastError(), "cannot be opened"));
}

TEST_F(SimulatorTest, MalformedFilesLeaveNoMachineAndSayWhere)
{
    struct Case {
        const char* text;
        const char* where;
    } cases[] = {
        {"device R\n  devcie X\n", "(2): unknown keyword 'devcie'"},
        {"device R\ndevice S\n", "(2): a second root"},
        {"device R\n    device A\n  device B\n", "(3): this device's indentation"},
        {"device R\n\tdevice A\n", "(2): indent with spaces"},
        {"device R\n  reg DEVICEDESC sz \"open\n", "(2): a string has no closing quote"},
        {"device R\n  prop DEVPKEY_Nope string \"x\"\n", "(2): 'DEVPKEY_Nope' is no known"},
        {"device R\n  device A handle=1\n", "(2): devnode handle 1 is used twice"},
        {"device R\n  class Nowhere\n", "(2): no setup class is named Nowhere"},
        {"device R\n  value X dword 1\n", "(2): a value line belongs below a key line"},
        {"device R\n  fail CM_Get_Nothing\n", "(2): 'CM_Get_Nothing' is no entry point"},
        {"device R\n  key hardware\n  value X binary hex:0g\n", "(3): 'hex:0g'"},
        {"device R\n  prop DEVPKEY_NAME byte 256\n", "(2): '256' is no number of 1 bytes"},
        {"reg DEVICEDESC sz \"x\"\n", "(1): reg belongs to a device"},
        {"# nothing but a comment\n", "no devices"},
    };
    std::wstring path = WriteMachine("device R\n");
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(path));
    for (const Case& bad : cases) {
        WriteFileBytes(path, bad.text);
        DEVINST root = 7;
        EXPECT_EQ((CONFIGRET)CR_FAILURE, api_.CM_Locate_DevNodeW(&root, nullptr, 0)) << bad.text;
        std::string error = api_.SimulatorLastError();
        EXPECT_NE(std::string::npos, error.find(bad.where)) << error;
        HDEVINFO set = api_.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
        EXPECT_EQ(INVALID_HANDLE_VALUE, set);
        wchar_t id[8];
        EXPECT_NE((CONFIGRET)CR_SUCCESS, api_.CM_Get_Device_IDW(1, id, 8, 0));
    }
    WriteFileBytes(path, kSmallMachine);
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(path));
    EXPECT_STREQ("", api_.SimulatorLastError());
}

TEST_F(SimulatorTest, HostileMachineFilesNeverCrashIt)
{
    std::string original = ReadFileBytes(BinDirectory() + L"machine.txt");
    ASSERT_GT(original.size(), 10000u);
    std::mt19937 random(20240501);
    std::wstring path = WriteMachine("device R\n");
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(path));
    int loaded = 0;
    for (int round = 0; round < 60; ++round) {
        std::string text = original.substr(0, 3000 + random() % 20000);
        for (int edit = 0; edit < 1 + (int)(random() % 8); ++edit) {
            size_t at = random() % text.size();
            switch (random() % 4) {
            case 0: text[at] = (char)(random() % 256); break;
            case 1: text.erase(at, random() % 40); break;
            case 2: text.insert(at, 1 + random() % 6, " \"\\*\t{#\n"[random() % 8]); break;
            default: text.insert(at, text.substr(random() % text.size(), random() % 200)); break;
            }
        }
        WriteFileBytes(path, text);
        DEVINST root = 0;
        CONFIGRET result = api_.CM_Locate_DevNodeW(&root, nullptr, 0);
        ASSERT_TRUE(result == CR_SUCCESS || result == CR_FAILURE);
        if (result != CR_SUCCESS)
            continue;
        ++loaded;
        std::vector<DEVINST> order;
        Walk(api_, root, order, 1000);
        for (DEVINST devnode : order)
            RegistryProperty(devnode, CM_DRP_FRIENDLYNAME);
    }
    // Random bytes from the start.
    for (int round = 0; round < 20; ++round) {
        std::string noise(random() % 4000, '\0');
        for (char& ch : noise)
            ch = (char)(random() % 256);
        WriteFileBytes(path, noise);
        DEVINST root = 0;
        CONFIGRET result = api_.CM_Locate_DevNodeW(&root, nullptr, 0);
        EXPECT_TRUE(result == CR_SUCCESS || result == CR_FAILURE);
    }
    RecordProperty("LoadedMutations", loaded);
}

TEST_F(SimulatorTest, CountsTheCallsOfEachEntryPoint)
{
    api_.SimulatorResetCalls();
    std::vector<DEVINST> order;
    Walk(api_, kRoot, order);
    EXPECT_EQ(kDefaultDevices, api_.SimulatorCalls("CM_Get_Child"));
    EXPECT_EQ(0, api_.SimulatorCalls("CM_Get_Child_Ex"));
    EXPECT_EQ(0, api_.SimulatorCalls("CM_Locate_DevNodeW"));
    EXPECT_EQ(0, api_.SimulatorCalls("NoSuchName"));
    EXPECT_EQ(0, api_.SimulatorCalls("SimulatorCalls")); // the hooks do not count
    api_.SimulatorResetCalls();
    EXPECT_EQ(0, api_.SimulatorCalls("CM_Get_Child"));

    // Names the product only needs to find fail cleanly, and are counted too.
    ULONG length = 0;
    EXPECT_EQ((CONFIGRET)CR_CALL_NOT_IMPLEMENTED, api_.CM_Get_Device_ID_List_SizeW(&length, nullptr, 0));
    EXPECT_FALSE(api_.SetupDiEnumDeviceInterfaces(nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ((DWORD)ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, api_.SetupOpenInfFileW(L"x.inf", nullptr, 0, nullptr));
    EXPECT_EQ(1, api_.SimulatorCalls("SetupOpenInfFileW"));
}

TEST_F(SimulatorTest, VariantsExportTheirGroupsAndServeTheMachine)
{
    // Every name the product binds from the setup library, in its order.
    const char* const setupNames[] = {
        "SetupCopyOEMInfW", "SetupDiGetClassDevsW", "SetupDiGetClassDevsExW", "SetupDiEnumDeviceInterfaces",
        "SetupDiGetDeviceInterfaceDetailW", "SetupDiDestroyDeviceInfoList", "SetupDiOpenDeviceInfoW",
        "SetupDiGetDeviceRegistryPropertyW", "SetupDiSetDeviceRegistryPropertyW", "SetupDiGetDeviceInstanceIdW",
        "SetupDiGetClassImageList", "SetupDiGetClassImageIndex", "SetupDiDestroyClassImageList",
        "SetupDiSetClassInstallParamsW", "SetupDiCallClassInstaller", "SetupDiEnumDeviceInfo",
        "SetupDiGetDevicePropertyW", "SetupDiLoadDeviceIcon", "SetupDiLoadClassIcon", "SetupDiGetDevicePropertyKeys",
        "SetupDiGetClassPropertyKeys", "SetupDiGetDeviceInterfacePropertyKeys", "SetupDiClassNameFromGuidW",
        "SetupOpenInfFileW", "SetupOpenFileQueue", "SetupCommitFileQueueW", "SetupInstallFilesFromInfSectionW",
        "SetupInstallServicesFromInfSectionW", "SetupInstallFromInfSectionW", "SetupCloseInfFile",
        "SetupCloseFileQueue", "SetupDefaultQueueCallbackW", "SetupInitDefaultQueueCallback",
        "SetupUninstallOEMInfW", "SetupDiOpenDevRegKey", "SetupDiOpenClassRegKeyExW",
        "SetupDiOpenDeviceInterfaceRegKey", "SetupDiGetDeviceInstallParamsW"};
    const char* const managerNames[] = {
        "CM_Disconnect_Machine", "CM_Locate_DevNodeW", "CM_Locate_DevNode_ExW", "CM_Connect_MachineW",
        "CM_Get_Sibling", "CM_Get_Sibling_Ex", "CM_Get_Child", "CM_Get_Child_Ex", "CM_Get_Parent",
        "CM_Get_Parent_Ex", "CM_Get_Device_IDW", "CM_Get_Device_ID_ExW", "CM_Get_DevNode_Registry_PropertyW",
        "CM_Get_DevNode_Registry_Property_ExW", "CM_Set_DevNode_Registry_PropertyW",
        "CM_Set_DevNode_Registry_Property_ExW", "CM_Get_DevNode_Status", "CM_Get_Device_Interface_ListW",
        "CM_Get_Device_Interface_List_ExW", "CM_Get_Device_Interface_List_SizeW",
        "CM_Get_Device_Interface_List_Size_ExW", "CM_Get_Device_ID_ListA", "CM_Get_Device_ID_ListW",
        "CM_Get_Device_ID_List_SizeA", "CM_Get_Device_ID_List_SizeW", "CM_Get_Device_ID_List_ExA",
        "CM_Get_Device_ID_List_ExW", "CM_Get_Device_ID_List_Size_ExA", "CM_Get_Device_ID_List_Size_ExW",
        "CM_Request_Device_EjectW", "CM_Request_Device_Eject_ExW", "CM_Open_DevNode_Key", "CM_Open_DevNode_Key_Ex",
        "CMP_WaitNoPendingInstallEvents"};

    SimulatorApi noManager, manager;
    ASSERT_TRUE(noManager.Load((BinDirectory() + L"simsetup_nocm.dll").c_str()));
    ASSERT_TRUE(manager.Load((BinDirectory() + L"simcfgmgr.dll").c_str()) || manager.module);
    for (const char* name : setupNames) {
        EXPECT_NE(nullptr, GetProcAddress(api_.module, name)) << name;
        EXPECT_NE(nullptr, GetProcAddress(noManager.module, name)) << name;
        EXPECT_EQ(nullptr, GetProcAddress(manager.module, name)) << name;
    }
    for (const char* name : managerNames) {
        EXPECT_NE(nullptr, GetProcAddress(api_.module, name)) << name;
        EXPECT_EQ(nullptr, GetProcAddress(noManager.module, name)) << name;
        EXPECT_NE(nullptr, GetProcAddress(manager.module, name)) << name;
    }
    EXPECT_NE(nullptr, GetProcAddress(api_.module, "CM_Reenumerate_DevNode_Ex"));
    EXPECT_EQ(nullptr, GetProcAddress(manager.module, "CM_Reenumerate_DevNode_Ex"));
    EXPECT_EQ(nullptr, GetProcAddress(manager.module, "SimulatorCalls"));

    // Each variant loads the machine for itself.
    DEVINST root = 0, child = 0;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, manager.CM_Locate_DevNodeW(&root, nullptr, 0));
    EXPECT_EQ((CONFIGRET)CR_SUCCESS, manager.CM_Get_Child(&child, root, 0));
    HDEVINFO set = noManager.SetupDiGetClassDevsW(&kNetClass, nullptr, nullptr, 0);
    SP_DEVINFO_DATA element = {sizeof(element)};
    EXPECT_TRUE(noManager.SetupDiEnumDeviceInfo(set, 0, &element));
    EXPECT_EQ(kShowcase, element.DevInst);
    EXPECT_EQ(1, noManager.SimulatorOpenSets());
    noManager.SetupDiDestroyDeviceInfoList(set);
    noManager.Release();
    manager.Release();
}

TEST_F(SimulatorTest, LargeMachineHoldsItsDevnodesAndThe200PropertyDevice)
{
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, UseMachine(BinDirectory() + L"machine_20000.txt")) << api_.SimulatorLastError();
    std::vector<DEVINST> order;
    Walk(api_, kRoot, order);
    EXPECT_EQ(20000u, order.size());

    wchar_t special[] = L"PCI\\VEN_8086&DEV_15F3&SUBSYS_00008086&REV_03\\4&2F6A1C3B&0&00E4";
    DEVINST devnode = 0;
    ASSERT_EQ((CONFIGRET)CR_SUCCESS, api_.CM_Locate_DevNodeW(&devnode, special, 0));
    SP_DEVINFO_DATA element;
    HDEVINFO set = OpenElement(kNetClass, devnode, element);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    DWORD count = 0;
    api_.SetupDiGetDevicePropertyKeys(set, &element, nullptr, 0, &count, 0);
    EXPECT_EQ(200u, count);
    api_.SetupDiDestroyDeviceInfoList(set);

    int problems = 0;
    for (DEVINST node : order) {
        ULONG status = 0, problem = 0;
        api_.CM_Get_DevNode_Status(&status, &problem, node, 0);
        if (status & DN_HAS_PROBLEM)
            ++problems;
    }
    EXPECT_GT(problems, 10);
    EXPECT_LT(problems, 400);
}
