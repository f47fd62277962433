#include "SnapshotMachine.h"

#include "snapshot/SnapshotReader.h"

namespace {

std::string Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

TypedData DataOf(const SnapshotValue& value)
{
    TypedData data;
    data.type = value.type;
    data.bytes = value.bytes;
    data.liesAboutSize = value.sizeDiffers;
    data.required = value.reportedSize;
    return data;
}

RegistryTree TreeOf(const SnapshotKey& key)
{
    RegistryTree tree;
    if (!key.present)
        return tree;
    RegistryKeyContent& content = tree.Key(std::wstring());
    for (const SnapshotNamedValue& value : key.values)
        content.values.push_back(RegistryValue{value.name, DataOf(value.value)});
    return tree;
}

Device DeviceOf(const SnapshotDevice& from)
{
    Device device;
    device.handle = from.handle;
    device.instanceId = from.instanceId;
    if (!from.hasInstanceId)
        device.failures.set((int)Entry::CM_Get_Device_IDW);
    device.hasSetupClass = from.listed && !IsNullGuid(from.setupClass);
    device.setupClass = from.setupClass;
    if (!from.listed)
        device.failures.set((int)Entry::SetupDiEnumDeviceInfo);
    device.status = from.status;
    device.problem = from.problem;
    if (!from.hasStatus)
        device.failures.set((int)Entry::CM_Get_DevNode_Status);
    for (const SnapshotRegistryProperty& property : from.registryProperties)
        device.registryProperties.push_back(RegistryProperty{property.code, DataOf(property.value)});
    for (const SnapshotProperty& property : from.properties)
        device.properties.push_back(DeviceProperty{property.key, DataOf(property.value)});
    device.hardwareKey = TreeOf(from.hardwareKey);
    device.softwareKey = TreeOf(from.softwareKey);
    return device;
}

SetupClass ClassOf(const SnapshotClass& from)
{
    SetupClass setupClass;
    setupClass.guid = from.guid;
    setupClass.name = from.name;
    if (!from.hasName)
        setupClass.failures.set((int)Entry::SetupDiClassNameFromGuidW);
    setupClass.hasIcon = !from.icon.empty();
    setupClass.iconFile = from.icon;
    setupClass.installerPropertyKeys = from.installerPropertyKeys;
    setupClass.interfacePropertyKeys = from.interfacePropertyKeys;
    if (!from.hasInstallerPropertyKeys && !from.hasInterfacePropertyKeys)
        setupClass.failures.set((int)Entry::SetupDiGetClassPropertyKeys);
    setupClass.installerKey = TreeOf(from.installerKey);
    setupClass.interfaceKey = TreeOf(from.interfaceKey);
    return setupClass;
}

// The devices depth first from the root, as a machine file lists them,
// linked as the snapshot links them.
void AddDevices(const Snapshot& snapshot, int index, int parent, Machine& machine)
{
    for (; index >= 0; index = snapshot.devices[index].nextSibling) {
        int added = (int)machine.devices.size();
        machine.devices.push_back(DeviceOf(snapshot.devices[index]));
        Device& device = machine.devices.back();
        device.parent = parent;
        if (parent >= 0) {
            int* link = &machine.devices[parent].firstChild;
            while (*link >= 0)
                link = &machine.devices[*link].nextSibling;
            *link = added;
        }
        AddDevices(snapshot, snapshot.devices[index].firstChild, added, machine);
    }
}

const char* ProblemText(SnapshotProblem::Kind kind)
{
    switch (kind) {
    case SnapshotProblem::NotJson:
        return "not JSON";
    case SnapshotProblem::Truncated:
        return "the file ends early";
    case SnapshotProblem::InvalidUtf8:
        return "not UTF-8";
    case SnapshotProblem::OtherFormat:
        return "not a Quillmere snapshot";
    case SnapshotProblem::NewerVersion:
        return "a newer version of the format";
    default:
        return "not a sound snapshot";
    }
}

} // namespace

bool LooksLikeSnapshot(const char* text, size_t size)
{
    size_t at = size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (at < size && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
        ++at;
    return at < size && text[at] == '{';
}

std::shared_ptr<Machine> MachineFromSnapshot(const char* text, size_t size, const std::wstring& path,
                                             std::string& error)
{
    Snapshot snapshot;
    SnapshotProblem problem;
    if (!SnapshotReader::Read(text, size, snapshot, problem)) {
        error = Narrow(path) + "(0): " + ProblemText(problem.kind) + " (" + std::to_string(problem.kind) +
                ") " + Narrow(problem.where);
        return nullptr;
    }
    auto machine = std::make_shared<Machine>();
    machine->path = path;
    for (const SnapshotClass& setupClass : snapshot.classes)
        machine->classes.push_back(ClassOf(setupClass));
    AddDevices(snapshot, snapshot.Root(), -1, *machine);
    int line = 0;
    std::string problemText = machine->Index(line);
    if (!problemText.empty()) {
        error = Narrow(path) + "(0): " + problemText;
        return nullptr;
    }
    return machine;
}
