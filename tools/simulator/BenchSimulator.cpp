// Times the simulator's own costs on a large machine: a full walk with name
// and status per node, device information sets (each walks the whole
// machine, as on Windows), class icons, and the property list of the device
// with 200 properties read through one set.
//
//   bench_simulator.exe [machine file]   (default: machine_20000.txt beside the exe)
//
// Run it with WINEDLLOVERRIDES=setupapi=n,b under Wine (./build.sh bench does).

#include <windows.h>
#include <cfgmgr32.h>
#include <objbase.h>
#include <setupapi.h>

#include <stdio.h>
#include <string>
#include <vector>

namespace {

typedef decltype(&CM_Locate_DevNodeW) LocateFn;
typedef decltype(&CM_Get_Child) RelationFn;
typedef decltype(&CM_Get_DevNode_Registry_PropertyW) RegistryPropertyFn;
typedef decltype(&CM_Get_DevNode_Status) StatusFn;
typedef decltype(&SetupDiGetClassDevsW) ClassDevsFn;
typedef decltype(&SetupDiEnumDeviceInfo) EnumFn;
typedef decltype(&SetupDiDestroyDeviceInfoList) DestroyFn;
typedef decltype(&SetupDiLoadClassIcon) IconFn;
typedef decltype(&SetupDiGetDevicePropertyW) PropertyFn;
typedef decltype(&SetupDiGetDevicePropertyKeys) PropertyKeysFn;

struct Api {
    LocateFn locate;
    RelationFn child, sibling;
    RegistryPropertyFn registryProperty;
    StatusFn status;
    ClassDevsFn classDevs;
    EnumFn enumerate;
    DestroyFn destroy;
    IconFn icon;
    PropertyFn property;
    PropertyKeysFn propertyKeys;
};

template <typename T>
int Bind(HMODULE module, const char* name, T& slot)
{
    slot = (T)(void*)GetProcAddress(module, name);
    if (!slot)
        fprintf(stderr, "missing %s\n", name);
    return slot != nullptr;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// As the device model finds a node: among the class-less devices first,
// then among the devices of its class.
HDEVINFO OpenDeviceInfo(const Api& api, DEVINST devnode, GUID classGuid, SP_DEVINFO_DATA& element, int retry)
{
    HDEVINFO set = api.classDevs(&classGuid, nullptr, nullptr, 0);
    if (set != INVALID_HANDLE_VALUE) {
        element.cbSize = sizeof(element);
        for (DWORD index = 0; api.enumerate(set, index, &element); ++index) {
            if (element.DevInst == devnode)
                return set;
        }
        api.destroy(set);
    }
    if (!retry)
        return INVALID_HANDLE_VALUE;
    wchar_t text[4096];
    ULONG length = sizeof(text) - sizeof(wchar_t);
    ULONG type = 0;
    if (api.registryProperty(devnode, CM_DRP_CLASSGUID, &type, text, &length, 0) != CR_SUCCESS)
        return INVALID_HANDLE_VALUE;
    GUID guid;
    if (FAILED(CLSIDFromString(text, &guid)))
        return INVALID_HANDLE_VALUE;
    return OpenDeviceInfo(api, devnode, guid, element, 0);
}

// The tree depth first, with each node's name and status, as a rebuild reads them.
void Walk(const Api& api, DEVINST devnode, std::vector<DEVINST>& nodes)
{
    for (;;) {
        nodes.push_back(devnode);
        wchar_t name[4096];
        ULONG length = sizeof(name) - sizeof(wchar_t), type = 0;
        if (api.registryProperty(devnode, CM_DRP_FRIENDLYNAME, &type, name, &length, 0) != CR_SUCCESS) {
            length = sizeof(name) - sizeof(wchar_t);
            api.registryProperty(devnode, CM_DRP_DEVICEDESC, &type, name, &length, 0);
        }
        ULONG status = 0, problem = 0;
        api.status(&status, &problem, devnode, 0);
        DEVINST child;
        if (api.child(&child, devnode, 0) == CR_SUCCESS)
            Walk(api, child, nodes);
        DEVINST next;
        if (api.sibling(&next, devnode, 0) != CR_SUCCESS)
            return;
        devnode = next;
    }
}

// One device information set built and walked: every set walks the whole
// machine, as Windows walks its device database.
double SetMs(const Api& api, const GUID* classGuid, DWORD flags, int& elements)
{
    LARGE_INTEGER start = Now();
    HDEVINFO set = api.classDevs(classGuid, nullptr, nullptr, flags);
    elements = 0;
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA element = {sizeof(element)};
        while (api.enumerate(set, elements, &element))
            ++elements;
        api.destroy(set);
    }
    return 1000 * Seconds(start, Now());
}

void PropertyList(const Api& api, const wchar_t* instanceId)
{
    DEVINST devnode;
    if (api.locate(&devnode, (DEVINSTID_W)instanceId, 0) != CR_SUCCESS) {
        printf("property list: %ls not found\n", instanceId);
        return;
    }
    LARGE_INTEGER start = Now();
    SP_DEVINFO_DATA element;
    HDEVINFO set = OpenDeviceInfo(api, devnode, GUID(), element, 1);
    if (set == INVALID_HANDLE_VALUE) {
        printf("property list: no element for %ls\n", instanceId);
        return;
    }
    DWORD count = 0;
    api.propertyKeys(set, &element, nullptr, 0, &count, 0);
    std::vector<DEVPROPKEY> keys(count);
    api.propertyKeys(set, &element, keys.data(), count, &count, 0);
    int rows = 0;
    for (const DEVPROPKEY& key : keys) {
        DEVPROPTYPE type = 0;
        DWORD required = 0;
        api.property(set, &element, &key, &type, nullptr, 0, &required, 0);
        std::vector<BYTE> data(required + 2);
        if (api.property(set, &element, &key, &type, data.data(), (DWORD)data.size(), nullptr, 0))
            ++rows;
    }
    api.destroy(set);
    printf("property list of %ls through one set: %d keys, %d read, %.1f ms\n", instanceId,
           (int)keys.size(), rows, 1000 * Seconds(start, Now()));
}

std::wstring BesideExe(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L"\\/") + 1) + name;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring machine = argc > 1 ? argv[1] : BesideExe(L"machine_20000.txt");
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", machine.c_str());
    HMODULE module = LoadLibraryW(L"setupapi.dll");
    Api api;
    if (!module || !GetProcAddress(module, "SimulatorCalls")) {
        fprintf(stderr, "bench_simulator: setupapi.dll is not the simulator (WINEDLLOVERRIDES=setupapi=n,b?)\n");
        return 1;
    }
    int bound = Bind(module, "CM_Locate_DevNodeW", api.locate) & Bind(module, "CM_Get_Child", api.child) &
                Bind(module, "CM_Get_Sibling", api.sibling) &
                Bind(module, "CM_Get_DevNode_Registry_PropertyW", api.registryProperty) &
                Bind(module, "CM_Get_DevNode_Status", api.status) &
                Bind(module, "SetupDiGetClassDevsW", api.classDevs) &
                Bind(module, "SetupDiEnumDeviceInfo", api.enumerate) &
                Bind(module, "SetupDiDestroyDeviceInfoList", api.destroy) &
                Bind(module, "SetupDiLoadClassIcon", api.icon) &
                Bind(module, "SetupDiGetDevicePropertyW", api.property) &
                Bind(module, "SetupDiGetDevicePropertyKeys", api.propertyKeys);
    if (!bound)
        return 1;

    LARGE_INTEGER start = Now();
    DEVINST root;
    if (api.locate(&root, nullptr, 0) != CR_SUCCESS) {
        typedef const char*(WINAPI * LastErrorFn)(void);
        LastErrorFn lastError = (LastErrorFn)(void*)GetProcAddress(module, "SimulatorLastError");
        fprintf(stderr, "bench_simulator: no machine: %s\n", lastError ? lastError() : "?");
        return 1;
    }
    LARGE_INTEGER loaded = Now();
    std::vector<DEVINST> nodes;
    Walk(api, root, nodes);
    LARGE_INTEGER walked = Now();
    int all = 0, classless = 0;
    double allMs = SetMs(api, nullptr, DIGCF_ALLCLASSES, all);
    double classlessMs = SetMs(api, &GUID_NULL, 0, classless);
    LARGE_INTEGER iconsStart = Now();
    const GUID net = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    const int iconCount = 100;
    int icons = 0;
    for (int i = 0; i < iconCount; ++i) {
        HICON icon = nullptr;
        if (api.icon(&net, &icon, nullptr) && icon) {
            ++icons;
            DestroyIcon(icon);
        }
    }
    double iconMs = 1000 * Seconds(iconsStart, Now()) / iconCount;
    double perNode = 1e6 / nodes.size();
    printf("%ls\n", machine.c_str());
    printf("load: %.0f ms\n", 1000 * Seconds(start, loaded));
    printf("walk with names and status: %d nodes, %.0f ms (%.1f us per node)\n", (int)nodes.size(),
           1000 * Seconds(loaded, walked), perNode * Seconds(loaded, walked));
    printf("a set of all classes, built and walked: %d elements, %.1f ms (a rebuild needs one)\n", all, allMs);
    printf("the set of the class-less devices: %d elements, %.1f ms (every set walks the whole machine)\n",
           classless, classlessMs);
    printf("a class icon: %.2f ms (a new icon per call; %d of %d loaded)\n", iconMs, icons, iconCount);
    PropertyList(api, L"PCI\\VEN_8086&DEV_15F3&SUBSYS_00008086&REV_03\\4&2F6A1C3B&0&00E4");
    return 0;
}
