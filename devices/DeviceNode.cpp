#include "devices/DeviceNode.h"
#include "devices/DeviceTree.h"
#include "properties/ValueFormat.h"

#include <new>
#include <stdlib.h>
#include <string.h>

namespace {

// A registry property is read as text into 4096 characters; the read is
// offered one character less, counted in bytes.
const int PropertyTextCapacity = 4096;

} // namespace

DeviceNode::DeviceNode(DeviceTree* owner, DEVINST devnode)
    : devnode(devnode), owner(owner), name(WideString::WithCapacity(1))
{
}

DeviceNode::~DeviceNode()
{
    children.Clear();
}

const DeviceApi& DeviceNode::Api() const
{
    return owner->Api();
}

DeviceNode* DeviceNode::LoadChildren()
{
    children.Clear();
    DEVINST current = 0;
    if (Api().GetChild(&current, devnode) != CR_SUCCESS)
        return nullptr;
    for (;;) {
        DeviceNode* child = new (std::nothrow) DeviceNode(owner, current);
        if (!child)
            break;
        children.Append(child);
        DEVINST sibling = 0;
        if (Api().GetSibling(&sibling, current) != CR_SUCCESS)
            break;
        current = sibling;
    }
    return children.First();
}

int DeviceNode::LoadName()
{
    // Read through the tree's one large buffer, so that each name keeps
    // only its own length.
    WideString& read = owner->ReadBuffer();
    int found = RegistryProperty(SPDRP_FRIENDLYNAME, read) || RegistryProperty(SPDRP_DEVICEDESC, read);
    name.AssignExact(read.Text(), read.Length());
    return found;
}

int DeviceNode::RegistryPropertyRaw(DWORD spdrp, void* buffer, ULONG* length, ULONG* type) const
{
    ULONG localType = 0;
    if (!type)
        type = &localType;
    return Api().GetRegistryProperty(devnode, spdrp + 1, type, buffer, length) == CR_SUCCESS;
}

int DeviceNode::RegistryProperty(DWORD spdrp, WideString& text) const
{
    if (!text.Reserve(PropertyTextCapacity)) {
        text.Clear();
        return 0;
    }
    text.Clear();
    ULONG type = 0;
    ULONG length = (ULONG)((PropertyTextCapacity - 1) * sizeof(wchar_t));
    wchar_t* buffer = text.Buffer();
    if (!RegistryPropertyRaw(spdrp, buffer, &length, &type)) {
        text.Clear();
        return 0;
    }
    int characters = (int)(length / sizeof(wchar_t));
    if (characters > PropertyTextCapacity - 1)
        characters = PropertyTextCapacity - 1;
    if (type == REG_MULTI_SZ)
        for (int i = 0; i < characters - 1; ++i)
            if (buffer[i] == 0)
                buffer[i] = 1;
    // The returned length counts the terminator; a value delivered without
    // one ends where its data ends, never beyond.
    bool terminated = characters > 0 && buffer[characters - 1] == 0;
    text.SetLength(terminated || type == REG_MULTI_SZ ? characters - 1 : characters);
    text.Recompute();
    return 1;
}

int DeviceNode::LoadStatus()
{
    if (!Api().CM_Get_DevNode_Status())
        return 0;
    ULONG newStatus = 0, newProblem = 0;
    if (Api().CM_Get_DevNode_Status()(&newStatus, &newProblem, devnode, 0) != CR_SUCCESS)
        return 0;
    status = newStatus;
    problem = newProblem;
    return 1;
}

int DeviceNode::InstanceId(WideString& id) const
{
    id.Clear();
    if (Api().GetDeviceId(devnode, id.Buffer(), (ULONG)(id.Capacity() - 1)) != CR_SUCCESS) {
        id.Clear();
        return 0;
    }
    id.Recompute();
    return 1;
}

int DeviceNode::OpenDeviceInfo(const GUID& classGuid, DeviceInfoSet& info) const
{
    info.Release();
    const DeviceApi& api = Api();
    HDEVINFO set = api.GetClassDevs(&classGuid);
    if (set != INVALID_HANDLE_VALUE && set != nullptr) {
        SP_DEVINFO_DATA element;
        memset(&element, 0, sizeof(element));
        element.cbSize = sizeof(element);
        for (DWORD index = 0; api.SetupDiEnumDeviceInfo() &&
                              api.SetupDiEnumDeviceInfo()(set, index, &element);
             ++index) {
            if (element.DevInst == devnode) {
                info.Adopt(&api, set, element);
                return 1;
            }
            element.cbSize = sizeof(element);
        }
        if (api.SetupDiDestroyDeviceInfoList())
            api.SetupDiDestroyDeviceInfoList()(set);
    }
    if (!IsEqualGUID(classGuid, GUID_NULL))
        return 0;
    WideString classText;
    GUID ownClass;
    if (!RegistryProperty(SPDRP_CLASSGUID, classText) ||
        CLSIDFromString((LPCOLESTR)classText.Text(), &ownClass) != NOERROR ||
        IsEqualGUID(ownClass, GUID_NULL))
        return 0;
    return OpenDeviceInfo(ownClass, info);
}

int DeviceNode::FindDeviceInfo(DeviceInfoSet& info) const
{
    // Found in its own class's set, the node is exactly where the search
    // from the class-less devices would have found it.
    if (setupClassKnown && OpenDeviceInfo(setupClass, info))
        return 1;
    return OpenDeviceInfo(GUID_NULL, info);
}

int DeviceNode::LoadIcon()
{
    icon = nullptr;
    setupClassKnown = owner->SetupClassOf(*this, setupClass);
    if (!setupClassKnown || !Api().SetupDiLoadClassIcon())
        return 0;
    icon = owner->ClassIcon(setupClass);
    return icon != nullptr;
}

int DeviceNode::PropertyKeys(DEVPROPKEY** keys, DWORD* count) const
{
    DeviceInfoSet info;
    if (Api().SetupDiGetDevicePropertyKeys())
        FindDeviceInfo(info);
    return PropertyKeys(info, keys, count);
}

int DeviceNode::PropertyKeys(DeviceInfoSet& info, DEVPROPKEY** keys, DWORD* count) const
{
    *keys = nullptr;
    *count = 0;
    if (!Api().SetupDiGetDevicePropertyKeys() || !info.IsOpen())
        return 0;
    DWORD required = 0;
    Api().SetupDiGetDevicePropertyKeys()(info.Handle(), info.Element(), nullptr, 0, &required, 0);
    if (required == 0 || required > 0x100000)
        return 0;
    DEVPROPKEY* array = (DEVPROPKEY*)calloc(required, sizeof(DEVPROPKEY));
    if (!array)
        return 0;
    DWORD delivered = 0;
    if (!Api().SetupDiGetDevicePropertyKeys()(info.Handle(), info.Element(), array, required,
                                            &delivered, 0)) {
        free(array);
        return 0;
    }
    *keys = array;
    *count = delivered && delivered < required ? delivered : required;
    return 1;
}

HKEY DeviceNode::OpenRegistryKey(ULONG selector) const
{
    DeviceInfoSet info;
    if ((selector == ClassInstallerKey || selector == ClassInterfaceKey) &&
        Api().SetupDiOpenClassRegKeyExW())
        FindDeviceInfo(info);
    return OpenRegistryKey(selector, info);
}

HKEY DeviceNode::OpenRegistryKey(ULONG selector, DeviceInfoSet& info) const
{
    const DeviceApi& api = Api();
    if (selector == CM_REGISTRY_HARDWARE || selector == CM_REGISTRY_SOFTWARE) {
        HKEY key = nullptr;
        if (api.OpenDevNodeKey(devnode, selector, &key) != CR_SUCCESS)
            return nullptr;
        return key;
    }
    if (selector != ClassInstallerKey && selector != ClassInterfaceKey)
        return nullptr;
    if (!api.SetupDiOpenClassRegKeyExW() || !info.IsOpen())
        return nullptr;
    DWORD which = selector == ClassInstallerKey ? DIOCR_INSTALLER : DIOCR_INTERFACE;
    HKEY key = api.SetupDiOpenClassRegKeyExW()(&info.ClassGuid(), KEY_READ, which, nullptr, nullptr);
    return key == INVALID_HANDLE_VALUE ? nullptr : key;
}

namespace {

bool IsPlainNumberType(DEVPROPTYPE type)
{
    return type == DEVPROP_TYPE_BYTE || type == DEVPROP_TYPE_UINT16 ||
           type == DEVPROP_TYPE_UINT32 || type == DEVPROP_TYPE_UINT64 ||
           type == DEVPROP_TYPE_BOOLEAN;
}

} // namespace

int DeviceNode::DeviceProperty(const DEVPROPKEY& key, WideString& value) const
{
    DeviceInfoSet info;
    if (Api().SetupDiGetDevicePropertyW())
        FindDeviceInfo(info);
    return DeviceProperty(info, key, value);
}

int DeviceNode::DeviceProperty(DeviceInfoSet& info, const DEVPROPKEY& key, WideString& value) const
{
    value.Clear();
    const DeviceApi& api = Api();
    if (!api.SetupDiGetDevicePropertyW() || !info.IsOpen())
        return 0;
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    DWORD required = 0;
    api.SetupDiGetDevicePropertyW()(info.Handle(), info.Element(), &key, &type, nullptr, 0,
                                  &required, 0);
    if (type == DEVPROP_TYPE_EMPTY)
        return 0;
    if (IsPlainNumberType(type)) {
        unsigned long long number = 0;
        if (!api.SetupDiGetDevicePropertyW()(info.Handle(), info.Element(), &key, &type,
                                           (PBYTE)&number, sizeof(number), nullptr, 0))
            return 0;
        return value.Format(L"%I64u", number);
    }
    // A value shorter than its type is what it is: a few bytes of data.
    if ((type == DEVPROP_TYPE_GUID && required < sizeof(GUID)) ||
        (type == DEVPROP_TYPE_FILETIME && required < sizeof(FILETIME)))
        return value.Format(L"%u Bytes Binary Data", required);
    if (type == DEVPROP_TYPE_GUID) {
        GUID guid = {};
        if (!api.SetupDiGetDevicePropertyW()(info.Handle(), info.Element(), &key, &type,
                                           (PBYTE)&guid, sizeof(guid), nullptr, 0))
            return 0;
        GuidText(guid, value);
        return 1;
    }
    if (type == DEVPROP_TYPE_FILETIME) {
        FILETIME time = {};
        SYSTEMTIME system;
        if (!api.SetupDiGetDevicePropertyW()(info.Handle(), info.Element(), &key, &type,
                                           (PBYTE)&time, sizeof(time), nullptr, 0))
            return 0;
        if (FileTimeToSystemTime(&time, &system))
            FormatDateTime(value, 5, system);
        return 1;
    }
    if (type == DEVPROP_TYPE_STRING) {
        // Zeroed first, so a string delivered without terminator ends where
        // its data ends and never runs past the buffer.
        const int capacity = WideString::InitialCapacity;
        if (!value.Reserve(capacity))
            return 0;
        wchar_t* buffer = value.Buffer();
        memset(buffer, 0, capacity * sizeof(wchar_t));
        if (!api.SetupDiGetDevicePropertyW()(info.Handle(), info.Element(), &key, &type,
                                           (PBYTE)buffer, capacity * sizeof(wchar_t), nullptr,
                                           0)) {
            value.Clear();
            return 0;
        }
        int length = 0;
        while (length < capacity && buffer[length])
            ++length;
        value.SetLength(length < capacity ? length : capacity - 1);
        return 1;
    }
    return value.Format(L"%u Bytes Binary Data", required);
}
