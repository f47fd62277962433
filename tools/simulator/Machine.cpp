#include "Machine.h"

#include <algorithm>

std::wstring UpperAscii(const std::wstring& text)
{
    std::wstring upper(text);
    for (wchar_t& ch : upper) {
        if (ch >= L'a' && ch <= L'z')
            ch = (wchar_t)(ch - L'a' + L'A');
    }
    return upper;
}

bool IsNullGuid(const GUID& guid)
{
    static const GUID nullGuid = {};
    return memcmp(&guid, &nullGuid, sizeof(GUID)) == 0;
}

RegistryKeyContent& RegistryTree::Key(const std::wstring& subPath)
{
    present = true;
    std::wstring wanted = UpperAscii(subPath);
    for (RegistryKeyContent& key : keys) {
        if (UpperAscii(key.subPath) == wanted)
            return key;
    }
    keys.push_back(RegistryKeyContent());
    keys.back().subPath = subPath;
    return keys.back();
}

const RegistryProperty* Device::FindRegistryProperty(ULONG code) const
{
    for (const RegistryProperty& property : registryProperties) {
        if (property.code == code)
            return &property;
    }
    return nullptr;
}

const DeviceProperty* Device::FindProperty(const DEVPROPKEY& key) const
{
    for (const DeviceProperty& property : properties) {
        if (property.key.pid == key.pid && memcmp(&property.key.fmtid, &key.fmtid, sizeof(GUID)) == 0)
            return &property;
    }
    return nullptr;
}

int Machine::FindDeviceIndex(DEVINST handle) const
{
    auto found = deviceByHandle.find(handle);
    return found == deviceByHandle.end() ? -1 : found->second;
}

const Device* Machine::FindDevice(DEVINST handle) const
{
    int index = FindDeviceIndex(handle);
    return index < 0 ? nullptr : &devices[index];
}

int Machine::FindDeviceById(const wchar_t* instanceId) const
{
    if (!instanceId)
        return -1;
    auto found = deviceByUpperId.find(UpperAscii(instanceId));
    return found == deviceByUpperId.end() ? -1 : found->second;
}

int Machine::FindClassIndex(const GUID& guid) const
{
    auto found = classByGuid.find(guid);
    return found == classByGuid.end() ? -1 : found->second;
}

const SetupClass* Machine::FindClass(const GUID& guid) const
{
    int index = FindClassIndex(guid);
    return index < 0 ? nullptr : &classes[index];
}

static std::wstring StripLeadingBackslashes(const wchar_t* name)
{
    while (*name == L'\\')
        ++name;
    return UpperAscii(name);
}

bool Machine::IsUnreachable(const wchar_t* machineName) const
{
    if (!machineName || !*machineName)
        return false;
    std::wstring wanted = StripLeadingBackslashes(machineName);
    for (const std::wstring& name : unreachableMachines) {
        if (StripLeadingBackslashes(name.c_str()) == wanted)
            return true;
    }
    return false;
}

static std::string Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::string Machine::Index(int& line)
{
    line = 0;
    if (devices.empty())
        return "the machine has no devices (the first device line is the root)";

    std::unordered_map<std::wstring, int> classByUpperName;
    for (int i = 0; i < (int)classes.size(); ++i) {
        if (!classByGuid.emplace(classes[i].guid, i).second)
            return "setup class " + Narrow(classes[i].name) + " is declared twice";
        classByUpperName.emplace(UpperAscii(classes[i].name), i);
    }

    for (int i = 0; i < (int)devices.size(); ++i) {
        Device& device = devices[i];
        line = device.line;
        if (!deviceByHandle.emplace(device.handle, i).second)
            return "devnode handle " + std::to_string(device.handle) + " is used twice";
        deviceByUpperId.emplace(UpperAscii(device.instanceId), i);
        if (!device.setupClassName.empty()) {
            auto match = classByUpperName.find(UpperAscii(device.setupClassName));
            line = device.setupClassLine;
            if (match == classByUpperName.end())
                return "no setup class is named " + Narrow(device.setupClassName);
            device.setupClass = classes[match->second].guid;
            device.hasSetupClass = true;
        }
        if (device.hasSetupClass && IsNullGuid(device.setupClass))
            device.hasSetupClass = false;
    }

    line = 0;
    allDevices.resize(devices.size());
    for (int i = 0; i < (int)devices.size(); ++i)
        allDevices[i] = i;
    std::sort(allDevices.begin(), allDevices.end(),
              [this](int a, int b) { return devices[a].handle < devices[b].handle; });

    hardwareWritten.assign(devices.size(), 0);
    softwareWritten.assign(devices.size(), 0);
    installerWritten.assign(classes.size(), 0);
    interfaceWritten.assign(classes.size(), 0);
    return std::string();
}
