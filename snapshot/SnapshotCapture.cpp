#include "snapshot/SnapshotCapture.h"

#include "devices/DeviceInfoSet.h"
#include "properties/PropertyList.h"
#include "snapshot/IconFile.h"
#include "snapshot/ValueForm.h"

#include <string.h>

#include <unordered_map>
#include <unordered_set>

namespace {

// A failing element other than the end is skipped, but a set that keeps
// failing is given up rather than walked for ever.
const int MostFailuresInARow = 64;
// Room for an instance ID; longer ones are asked for once more.
const ULONG InstanceIdRoom = 1024;
// A value that keeps growing between two reads is given up after this many.
const int MostReadAttempts = 8;
const DWORD LongestValueName = 16384;
// Most values fit; a larger one is read once more with room for it.
const size_t InitialValueRoom = 4096;

struct GuidHash {
    size_t operator()(const GUID& guid) const
    {
        size_t hash = 0;
        const unsigned char* bytes = (const unsigned char*)&guid;
        for (size_t i = 0; i < sizeof(GUID); ++i)
            hash = hash * 131 + bytes[i];
        return hash;
    }
};
struct GuidEqual {
    bool operator()(const GUID& a, const GUID& b) const { return IsEqualGUID(a, b) != 0; }
};

// Where the bytes the platform wrote end in `buffer`, which held `filler`
// before the call.
size_t WrittenLength(const std::vector<BYTE>& buffer, size_t size, BYTE filler)
{
    while (size > 0 && buffer[size - 1] == filler)
        --size;
    return size;
}

class Capturer {
public:
    Capturer(const DeviceApi& api, Snapshot& snapshot) : api_(api), snapshot_(snapshot) {}

    int Run();

private:
    void IndexElements();
    void AddDevice(DEVINST devnode, bool hasParent, DEVINST parent, int depth);
    void ReadDevice(SnapshotDevice& device);
    void ReadInstanceId(SnapshotDevice& device);
    bool ReadRegistryProperty(DEVINST devnode, ULONG code, SnapshotValue& value);
    void ReadProperties(SnapshotDevice& device, SP_DEVINFO_DATA element);
    bool ReadProperty(SP_DEVINFO_DATA& element, const DEVPROPKEY& key, SnapshotValue& value);
    void ReadKey(HKEY key, SnapshotKey& out);
    void ReadClasses();
    bool ReadClass(const GUID& guid, SnapshotClass& setupClass);
    bool ReadClassPropertyKeys(const GUID& guid, DWORD flags, std::vector<DEVPROPKEY>& keys);
    void ReadClassKey(const GUID& guid, DWORD which, SnapshotKey& out);
    void NoteClass(const GUID& guid);
    void NoteGuids(ValueKind kind, const SnapshotValue& value);

    const DeviceApi& api_;
    Snapshot& snapshot_;
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    std::unordered_map<DEVINST, SP_DEVINFO_DATA> elements_;
    std::unordered_set<DEVINST> seen_;
    // Every GUID that a value or a set names, in the order first named: the
    // setup classes among them are read.
    std::vector<GUID> guids_;
    std::unordered_set<GUID, GuidHash, GuidEqual> noted_;
    std::vector<BYTE> buffer_;
    std::vector<wchar_t> valueName_;
};

int Capturer::Run()
{
    DEVINST root = 0;
    if (api_.LocateRoot(&root) != CR_SUCCESS)
        return 0;
    IndexElements();
    AddDevice(root, false, 0, 0);
    ReadClasses();
    if (set_ != INVALID_HANDLE_VALUE && api_.SetupDiDestroyDeviceInfoList())
        api_.SetupDiDestroyDeviceInfoList()(set_);
    return snapshot_.Index() == Snapshot::Sound;
}

void Capturer::IndexElements()
{
    // One set of every class serves all property reads: building a set
    // walks the whole device database.
    if (!api_.SetupDiEnumDeviceInfo())
        return;
    HDEVINFO set = api_.GetClassDevs(nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE || !set)
        return;
    set_ = set;
    int failures = 0;
    for (DWORD index = 0; failures < MostFailuresInARow; ++index) {
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof(element);
        if (!api_.SetupDiEnumDeviceInfo()(set, index, &element)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS)
                break;
            ++failures;
            continue;
        }
        failures = 0;
        elements_.emplace(element.DevInst, element);
    }
}

void Capturer::AddDevice(DEVINST devnode, bool hasParent, DEVINST parent, int depth)
{
    // A platform that reports a devnode twice (a cycle) shows it once.
    if ((int)snapshot_.devices.size() >= Snapshot::LargestDeviceCount || !seen_.insert(devnode).second)
        return;
    snapshot_.devices.emplace_back();
    SnapshotDevice& device = snapshot_.devices.back();
    device.handle = devnode;
    device.hasParent = hasParent;
    device.parentHandle = parent;
    ReadDevice(device);
    DEVINST child = 0;
    if (depth >= Snapshot::DeepestTree || api_.GetChild(&child, devnode) != CR_SUCCESS)
        return;
    for (;;) {
        AddDevice(child, true, devnode, depth + 1);
        DEVINST sibling = 0;
        if (api_.GetSibling(&sibling, child) != CR_SUCCESS || seen_.count(sibling))
            break;
        child = sibling;
    }
}

void Capturer::ReadDevice(SnapshotDevice& device)
{
    ReadInstanceId(device);
    if (api_.CM_Get_DevNode_Status())
        device.hasStatus =
            api_.CM_Get_DevNode_Status()(&device.status, &device.problem, device.handle, 0) == CR_SUCCESS;
    if (!device.hasStatus)
        device.status = device.problem = 0;
    const RegistryPropertyName* names = PropertyList::RegistryProperties();
    for (int i = 0; i < PropertyList::RegistryPropertyCount; ++i) {
        SnapshotRegistryProperty property;
        property.code = names[i].code;
        if (!ReadRegistryProperty(device.handle, property.code, property.value))
            continue;
        NoteGuids(ValueKind::Registry, property.value);
        device.registryProperties.push_back(std::move(property));
    }
    auto element = elements_.find(device.handle);
    if (element != elements_.end()) {
        device.listed = true;
        device.setupClass = element->second.ClassGuid;
        NoteClass(device.setupClass);
        ReadProperties(device, element->second);
    }
    for (ULONG which : {(ULONG)CM_REGISTRY_HARDWARE, (ULONG)CM_REGISTRY_SOFTWARE}) {
        HKEY key = nullptr;
        if (api_.OpenDevNodeKey(device.handle, which, &key) != CR_SUCCESS || !key)
            continue;
        ReadKey(key, which == CM_REGISTRY_HARDWARE ? device.hardwareKey : device.softwareKey);
        RegCloseKey(key);
    }
}

void Capturer::ReadInstanceId(SnapshotDevice& device)
{
    for (ULONG room : {InstanceIdRoom, (ULONG)Snapshot::LongestText + 1}) {
        std::vector<wchar_t> id(room, 0);
        CONFIGRET result = api_.GetDeviceId(device.handle, id.data(), room - 1);
        if (result == CR_SUCCESS) {
            device.hasInstanceId = true;
            device.instanceId.assign(id.data(), wcsnlen(id.data(), room - 1));
            return;
        }
        if (result != CR_BUFFER_SMALL)
            return;
    }
}

bool Capturer::ReadRegistryProperty(DEVINST devnode, ULONG code, SnapshotValue& value)
{
    ULONG type = 0, length = 0;
    CONFIGRET result = api_.GetRegistryProperty(devnode, code, &type, nullptr, &length);
    if (result == CR_SUCCESS) {
        value.type = type;
        return true;
    }
    if (result != CR_BUFFER_SMALL)
        return false;
    ULONG reported = length, size = length ? length : 2;
    for (int attempt = 0; attempt < MostReadAttempts && size <= Snapshot::LargestValue; ++attempt) {
        buffer_.assign(size, 0);
        ULONG got = size;
        result = api_.GetRegistryProperty(devnode, code, &type, buffer_.data(), &got);
        if (result == CR_SUCCESS) {
            value.type = type;
            value.bytes.assign(buffer_.begin(), buffer_.begin() + (got < size ? got : size));
            value.sizeDiffers = reported != value.Size();
            value.reportedSize = reported;
            return true;
        }
        if (result != CR_BUFFER_SMALL)
            return false;
        size = got > size ? got : size * 2;
    }
    return false;
}

void Capturer::ReadProperties(SnapshotDevice& device, SP_DEVINFO_DATA element)
{
    if (!api_.SetupDiGetDevicePropertyKeys() || !api_.SetupDiGetDevicePropertyW())
        return;
    DWORD count = 0;
    api_.SetupDiGetDevicePropertyKeys()(set_, &element, nullptr, 0, &count, 0);
    if (count == 0 || count > 0x100000)
        return;
    std::vector<DEVPROPKEY> keys(count);
    DWORD delivered = 0;
    if (!api_.SetupDiGetDevicePropertyKeys()(set_, &element, keys.data(), count, &delivered, 0))
        return;
    if (delivered && delivered < count)
        keys.resize(delivered);
    for (const DEVPROPKEY& key : keys) {
        SnapshotProperty property;
        property.key = key;
        if (!ReadProperty(element, key, property.value))
            continue;
        NoteGuids(ValueKind::Property, property.value);
        device.properties.push_back(std::move(property));
    }
}

bool Capturer::ReadProperty(SP_DEVINFO_DATA& element, const DEVPROPKEY& key, SnapshotValue& value)
{
    DeviceApi::DevicePropertyProc read = api_.SetupDiGetDevicePropertyW();
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    DWORD required = 0;
    BOOL whole = read(set_, &element, &key, &type, nullptr, 0, &required, 0);
    value.type = type;
    if (type == DEVPROP_TYPE_EMPTY || whole) {
        // Absent, or present without data.
        value.sizeDiffers = whole && required != 0;
        value.reportedSize = required;
        return true;
    }
    // The reported size need not be that of the data: the data's length is
    // where the call stopped writing into a filled buffer, seen against two
    // fillings so that the data's own last byte cannot hide it.
    DWORD size = required ? required : 1;
    bool read1 = false;
    for (int attempt = 0; attempt < MostReadAttempts && size <= Snapshot::LargestValue; ++attempt) {
        buffer_.assign(size, 0xFF);
        DWORD got = 0;
        DEVPROPTYPE again = 0;
        if (read(set_, &element, &key, &again, buffer_.data(), size, &got, 0)) {
            read1 = true;
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        size = got > size ? got : size * 2;
    }
    if (!read1)
        return false;
    size_t length = WrittenLength(buffer_, size, 0xFF);
    if (length < size) {
        buffer_.assign(size, 0x00);
        DEVPROPTYPE again = 0;
        if (!read(set_, &element, &key, &again, buffer_.data(), size, nullptr, 0))
            return false;
        size_t other = WrittenLength(buffer_, size, 0x00);
        length = other > length ? other : length;
    }
    value.bytes.assign(buffer_.begin(), buffer_.begin() + length);
    value.sizeDiffers = required != length;
    value.reportedSize = required;
    return true;
}

void Capturer::ReadKey(HKEY key, SnapshotKey& out)
{
    out.present = true;
    std::vector<wchar_t>& name = valueName_;
    name.resize(LongestValueName + 1);
    if (buffer_.size() < InitialValueRoom)
        buffer_.resize(InitialValueRoom);
    bool grown = false;
    for (DWORD index = 0;;) {
        DWORD nameLength = (DWORD)name.size(), dataLength = (DWORD)buffer_.size(), type = 0;
        LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                    buffer_.data(), &dataLength);
        if (result == ERROR_MORE_DATA && !grown && dataLength <= Snapshot::LargestValue) {
            // Grown since the key was asked: once more with room for it.
            buffer_.resize(dataLength + 16);
            grown = true;
            continue;
        }
        grown = false;
        ++index;
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        SnapshotNamedValue value;
        value.name.assign(name.data(), nameLength);
        value.value.type = type;
        value.value.bytes.assign(buffer_.begin(), buffer_.begin() + dataLength);
        NoteGuids(ValueKind::Registry, value.value);
        out.values.push_back(std::move(value));
    }
}

void Capturer::NoteClass(const GUID& guid)
{
    if (!IsEqualGUID(guid, GUID_NULL) && noted_.insert(guid).second)
        guids_.push_back(guid);
}

void Capturer::NoteGuids(ValueKind kind, const SnapshotValue& value)
{
    // The viewer names the setup class of any value that reads as a braced
    // GUID: the classes such values name are kept with the snapshot.
    if (kind == ValueKind::Property && value.type == DEVPROP_TYPE_GUID && value.Size() == sizeof(GUID)) {
        GUID guid;
        memcpy(&guid, value.bytes.data(), sizeof guid);
        NoteClass(guid);
        return;
    }
    bool strings = FormSuitsType(kind, value.type, ValueForm::Text) ||
                   FormSuitsType(kind, value.type, ValueForm::Texts);
    if (!strings)
        return;
    const wchar_t* unit = (const wchar_t*)value.bytes.data();
    size_t count = value.Size() / sizeof(wchar_t);
    for (size_t start = 0; start < count;) {
        size_t end = start;
        while (end < count && unit[end])
            ++end;
        if (end - start == 38 && unit[start] == L'{') {
            char text[38];
            for (size_t i = 0; i < 38; ++i)
                text[i] = unit[start + i] < 0x80 ? (char)unit[start + i] : '?';
            GUID guid;
            if (ParseGuidString(text, 38, guid))
                NoteClass(guid);
        }
        start = end + 1;
    }
}

void Capturer::ReadClasses()
{
    for (size_t i = 0; i < guids_.size(); ++i) {
        SnapshotClass setupClass;
        if (ReadClass(guids_[i], setupClass))
            snapshot_.classes.push_back(std::move(setupClass));
    }
}

bool Capturer::ReadClass(const GUID& guid, SnapshotClass& setupClass)
{
    setupClass.guid = guid;
    if (api_.SetupDiClassNameFromGuidW()) {
        std::vector<wchar_t> name(1024, 0);
        if (api_.SetupDiClassNameFromGuidW()(&guid, name.data(), (DWORD)name.size() - 1, nullptr)) {
            setupClass.hasName = true;
            setupClass.name.assign(name.data(), wcsnlen(name.data(), name.size() - 1));
        }
    }
    HICON icon = nullptr;
    if (api_.SetupDiLoadClassIcon() && api_.SetupDiLoadClassIcon()(&guid, &icon, nullptr) && icon) {
        IconFile::Encode(icon, setupClass.icon);
        DestroyIcon(icon);
    }
    setupClass.hasInstallerPropertyKeys =
        ReadClassPropertyKeys(guid, DICLASSPROP_INSTALLER, setupClass.installerPropertyKeys);
    setupClass.hasInterfacePropertyKeys =
        ReadClassPropertyKeys(guid, DICLASSPROP_INTERFACE, setupClass.interfacePropertyKeys);
    ReadClassKey(guid, DIOCR_INSTALLER, setupClass.installerKey);
    ReadClassKey(guid, DIOCR_INTERFACE, setupClass.interfaceKey);
    return setupClass.hasName || !setupClass.icon.empty() || setupClass.hasInstallerPropertyKeys ||
           setupClass.hasInterfacePropertyKeys || setupClass.installerKey.present ||
           setupClass.interfaceKey.present;
}

bool Capturer::ReadClassPropertyKeys(const GUID& guid, DWORD flags, std::vector<DEVPROPKEY>& keys)
{
    DeviceApi::ClassPropertyKeysProc read = api_.SetupDiGetClassPropertyKeys();
    if (!read)
        return false;
    DWORD count = 0;
    if (read(&guid, nullptr, 0, &count, flags))
        return true; // a class without keys
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || count == 0 || count > 0x100000)
        return false;
    keys.resize(count);
    DWORD delivered = 0;
    if (!read(&guid, keys.data(), count, &delivered, flags)) {
        keys.clear();
        return false;
    }
    if (delivered && delivered < count)
        keys.resize(delivered);
    return true;
}

void Capturer::ReadClassKey(const GUID& guid, DWORD which, SnapshotKey& out)
{
    if (!api_.SetupDiOpenClassRegKeyExW())
        return;
    HKEY key = api_.SetupDiOpenClassRegKeyExW()(&guid, KEY_READ, which, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE || !key)
        return;
    ReadKey(key, out);
    RegCloseKey(key);
}

} // namespace

int SnapshotCapture::Capture(const DeviceApi& api, const SnapshotHeader& header, Snapshot& snapshot)
{
    snapshot = Snapshot();
    snapshot.header = header;
    Capturer capturer(api, snapshot);
    if (!capturer.Run()) {
        snapshot = Snapshot();
        return 0;
    }
    return 1;
}
