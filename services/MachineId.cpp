#include "services/MachineId.h"
#include "services/ComInit.h"
#include "services/RegistryKey.h"
#include "services/WindowsVersion.h"
#include "services/OptionalApi.h"

#include <objbase.h>
#include <wbemidl.h>
#include <wchar.h>

namespace {

const wchar_t NtCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t NineXCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t GenuineAdvantage[] = L"SOFTWARE\\Microsoft\\Windows Genuine Advantage";
const wchar_t RpcUuidData[] = L"SOFTWARE\\Description\\Microsoft\\Rpc\\UuidTemporaryData";
const wchar_t NineXDhcpInfo[] = L"System\\CurrentControlSet\\Services\\VxD\\DHCP\\DhcpInfo00";
const wchar_t DiskEnum[] = L"SYSTEM\\CurrentControlSet\\Services\\Disk\\Enum";
const wchar_t AdapterQuery[] = L"SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled=true";
const int AddressBytes = 6;
// A "Count" beyond any real number of disks is not walked to its end.
const unsigned MaximumDisks = 1024;
const unsigned ScsiPorts = 10;
const unsigned ScsiBuses = 10;
const unsigned MaximumTargets = 256;
const LONG WmiTimeout = 5000;

int ReadText(HKEY root, const wchar_t* path, const wchar_t* name, WideString& text, REGSAM view = 0)
{
    RegistryKey key;
    return key.OpenRead(root, path, view) && key.ReadText(name, text) ? 1 : 0;
}

BYTE XorOfBytes(const BYTE* bytes, int count)
{
    BYTE folded = 0;
    for (int i = 0; i < count; ++i)
        folded ^= bytes[i];
    return folded;
}

int ReadAddress(HKEY root, const wchar_t* path, const wchar_t* name, BYTE (&address)[AddressBytes])
{
    RegistryKey key;
    return key.OpenRead(root, path) && key.ReadBlock(name, address, AddressBytes) ? 1 : 0;
}

// The MAC address of the first adapter with IP enabled, as WMI reports it.
int WmiAdapterAddress(WideString& text)
{
    text.Clear();
    HRESULT com = InitializeCom(COINIT_MULTITHREADED);
    OptionalApi& api = OptionalApi::Shared();
    // Refused when the process set its security already; the default then serves.
    api.CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    IEnumWbemClassObject* results = nullptr;
    BSTR space = SysAllocString(L"ROOT\\CIMV2");
    BSTR language = SysAllocString(L"WQL");
    BSTR query = SysAllocString(AdapterQuery);
    if (space && language && query &&
        SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                   (void**)&locator)) &&
        SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                         &services))) {
        api.CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                              RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        if (SUCCEEDED(services->ExecQuery(language, query,
                                          WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                          nullptr, &results))) {
            IWbemClassObject* adapter = nullptr;
            ULONG returned = 0;
            if (results->Next(WmiTimeout, 1, &adapter, &returned) == WBEM_S_NO_ERROR && returned == 1) {
                VARIANT value;
                VariantInit(&value);
                if (SUCCEEDED(adapter->Get(L"MACAddress", 0, &value, nullptr, nullptr)) &&
                    value.vt == VT_BSTR && value.bstrVal)
                    text = value.bstrVal;
                VariantClear(&value);
                adapter->Release();
            }
            results->Release();
        }
    }
    if (services)
        services->Release();
    if (locator)
        locator->Release();
    SysFreeString(space);
    SysFreeString(language);
    SysFreeString(query);
    if (SUCCEEDED(com))
        CoUninitialize();
    return text.IsEmpty() ? 0 : 1;
}

// The sum of the low bytes of every "Identifier" of the SCSI targets, for
// systems whose disk enumeration has no entries.
int ScsiIdentifierSum(HKEY machine, BYTE* sum)
{
    int found = 0;
    WideString path, identifier;
    for (unsigned port = 0; port < ScsiPorts; ++port) {
        for (unsigned bus = 0; bus < ScsiBuses; ++bus) {
            for (unsigned target = 0; target < MaximumTargets; ++target) {
                path.Format(L"HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\"
                            L"Logical Unit Id 0",
                            port, bus, target);
                RegistryKey key;
                if (!key.OpenRead(machine, path.Text()))
                    break;
                if (key.ReadText(L"Identifier", identifier)) {
                    *sum = (BYTE)(*sum + SumOfLowBytes(identifier.Text()));
                    found = 1;
                }
            }
        }
    }
    return found;
}

} // namespace

BYTE SumOfLowBytes(const wchar_t* text)
{
    BYTE sum = 0;
    for (; text && *text; ++text)
        sum = (BYTE)(sum + (BYTE)*text);
    return sum;
}

BYTE XorOfLowBytes(const wchar_t* text)
{
    BYTE folded = 0;
    for (; text && *text; ++text)
        folded ^= (BYTE)*text;
    return folded;
}

BYTE ProductIdByte(const MachineIdSources& sources)
{
    WideString productId;
    if (sources.ntFamily)
        ReadText(sources.machine, NtCurrentVersion, L"ProductId", productId, KEY_WOW64_64KEY);
    else
        ReadText(sources.machine, NineXCurrentVersion, L"ProductId", productId);
    return SumOfLowBytes(productId.Text());
}

BYTE VolumeSerialByte()
{
    wchar_t windows[MAX_PATH + 1] = L"";
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    DWORD serial = 0;
    if (!GetVolumeInformationW(windows, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        return 0;
    return (BYTE)(serial ^ (serial >> 8) ^ (serial >> 16) ^ (serial >> 24));
}

BYTE NetworkAddressByte(const MachineIdSources& sources)
{
    WideString text;
    BYTE address[AddressBytes] = {};
    if (sources.ntFamily) {
        if (ReadText(sources.machine, GenuineAdvantage, L"MAC", text) && !text.IsEmpty())
            return XorOfLowBytes(text.Text());
        if (ReadAddress(sources.machine, RpcUuidData, L"NetworkAddress", address))
            return XorOfBytes(address, AddressBytes);
        if (sources.askWmi && WmiAdapterAddress(text))
            return XorOfLowBytes(text.Text());
        ReadText(sources.machine, NtCurrentVersion, L"ProductId", text, KEY_WOW64_64KEY);
        return XorOfLowBytes(text.Text());
    }
    if (ReadAddress(sources.machine, NineXDhcpInfo, L"HardwareAddress", address))
        return XorOfBytes(address, AddressBytes);
    ReadText(sources.machine, NineXCurrentVersion, L"ProductId", text);
    return XorOfLowBytes(text.Text());
}

BYTE DiskByte(const MachineIdSources& sources)
{
    if (!sources.ntFamily)
        return 0;
    BYTE sum = 0;
    int found = 0;
    RegistryKey key;
    unsigned long long count = 0;
    if (key.OpenRead(sources.machine, DiskEnum) && key.ReadNumber(L"Count", &count)) {
        if (count > MaximumDisks)
            count = MaximumDisks;
        WideString name, text;
        for (unsigned index = 0; index < (unsigned)count; ++index) {
            name.Format(L"%u", index);
            if (key.ReadText(name.Text(), text)) {
                sum = (BYTE)(sum + SumOfLowBytes(text.Text()));
                found = 1;
            }
        }
    }
    if (!found && !ScsiIdentifierSum(sources.machine, &sum))
        return 0;
    return sum;
}

BYTE WindowsVersionCode(DWORD major, DWORD minor, DWORD build, bool armHost)
{
    if (major == 10 && build >= 22000)
        major = 11;
    BYTE code = (BYTE)((minor << 4) | (major & 0xF));
    return armHost ? (BYTE)(code | 0x80) : code;
}

int RegistryWindowsVersion(HKEY machine, DWORD* major, DWORD* minor, DWORD* build)
{
    RegistryKey key;
    if (!key.OpenRead(machine, NtCurrentVersion))
        return 0;
    WideString text;
    *build = key.ReadText(L"CurrentBuild", text) ? (DWORD)wcstoul(text.Text(), nullptr, 10) : 0;
    unsigned long long high = 0, low = 0;
    if (key.ReadNumber(L"CurrentMajorVersionNumber", &high) &&
        key.ReadNumber(L"CurrentMinorVersionNumber", &low)) {
        *major = (DWORD)high;
        *minor = (DWORD)low;
        return 1;
    }
    unsigned first = 0, second = 0;
    if (key.ReadText(L"CurrentVersion", text) && swscanf(text.Text(), L"%u.%u", &first, &second) == 2) {
        *major = first;
        *minor = second;
        return 1;
    }
    return 0;
}

BYTE RunningWindowsCode(HKEY machine)
{
    if (IsWine())
        return 1;
    if (IsReactOS())
        return 2;
    if (IsWindowsSandbox())
        return 3;
    DWORD major = 0, minor = 0, build = 0;
    if (!RegistryWindowsVersion(machine, &major, &minor, &build)) {
        OSVERSIONINFOW info = {sizeof(info)};
        if (GetVersionExW(&info)) {
            major = info.dwMajorVersion;
            minor = info.dwMinorVersion;
            build = info.dwBuildNumber;
        }
    }
    return WindowsVersionCode(major, minor, build, IsArmHost());
}

void ComputeMachineIdBytes(BYTE mode, const MachineIdSources& sources, BYTE (&bytes)[MachineIdBytes])
{
    bytes[0] = 16;
    bytes[1] = ProductIdByte(sources);
    bytes[2] = sources.windowsCode >= 0 ? (BYTE)sources.windowsCode : RunningWindowsCode(sources.machine);
    bytes[3] = VolumeSerialByte();
    bytes[4] = NetworkAddressByte(sources);
    bytes[5] = DiskByte(sources);
    bytes[6] = mode;
    bytes[7] = 0;
}

int MachineIdText(BYTE (&bytes)[MachineIdBytes], WideString& text)
{
    BYTE check = 0;
    for (int i = 0; i < MachineIdBytes - 1; ++i)
        check ^= (BYTE)~bytes[i];
    bytes[7] = check;
    return text.Format(L"%04X-%04X-%04X-%04X", bytes[0] | (bytes[1] << 8), bytes[2] | (bytes[3] << 8),
                       bytes[4] | (bytes[5] << 8), bytes[6] | (bytes[7] << 8));
}

int MachineId(BYTE mode, WideString& text)
{
    MachineIdSources sources;
    sources.ntFamily = (GetWindowsVersion() & Windows9xFamily) == 0;
    BYTE bytes[MachineIdBytes];
    ComputeMachineIdBytes(mode, sources, bytes);
    return MachineIdText(bytes, text);
}
