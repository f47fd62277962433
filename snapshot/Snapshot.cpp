#include "snapshot/Snapshot.h"

#include <string.h>

const char Snapshot::FormatName[] = "Quillmere snapshot";

namespace {

std::wstring UpperAscii(const std::wstring& text)
{
    std::wstring upper(text);
    for (wchar_t& ch : upper)
        if (ch >= L'a' && ch <= L'z')
            ch = (wchar_t)(ch - L'a' + L'A');
    return upper;
}

bool SameKey(const DEVPROPKEY& a, const DEVPROPKEY& b)
{
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

} // namespace

bool SnapshotValue::operator==(const SnapshotValue& other) const
{
    return type == other.type && bytes == other.bytes && ReportedSize() == other.ReportedSize();
}

const SnapshotRegistryProperty* SnapshotDevice::FindRegistryProperty(ULONG code) const
{
    for (const SnapshotRegistryProperty& property : registryProperties)
        if (property.code == code)
            return &property;
    return nullptr;
}

const SnapshotProperty* SnapshotDevice::FindProperty(const DEVPROPKEY& key) const
{
    for (const SnapshotProperty& property : properties)
        if (SameKey(property.key, key))
            return &property;
    return nullptr;
}

size_t Snapshot::GuidHash::operator()(const GUID& guid) const
{
    size_t hash = 14695981039346656037ull & (size_t)-1;
    const unsigned char* bytes = (const unsigned char*)&guid;
    for (size_t i = 0; i < sizeof(GUID); ++i)
        hash = (hash ^ bytes[i]) * (size_t)1099511628211ull;
    return hash;
}

Snapshot::Problem Snapshot::Index(int* device)
{
    int ignored = 0;
    if (!device)
        device = &ignored;
    *device = -1;
    root_ = -1;
    byHandle_.clear();
    byUpperId_.clear();
    classByGuid_.clear();
    listedByClass_.clear();
    listed_.clear();
    if (devices.empty())
        return NoDevices;
    for (int i = 0; i < (int)classes.size(); ++i) {
        if (!classByGuid_.emplace(classes[i].guid, i).second)
            return DuplicateClass;
    }
    for (int i = 0; i < (int)devices.size(); ++i) {
        SnapshotDevice& current = devices[i];
        *device = i;
        if (!byHandle_.emplace(current.handle, i).second)
            return DuplicateHandle;
        if (current.hasInstanceId && !byUpperId_.emplace(UpperAscii(current.instanceId), i).second)
            return DuplicateInstanceId;
        if (current.listed) {
            listed_.push_back(i);
            listedByClass_[current.setupClass].push_back(i);
        }
    }
    for (int i = 0; i < (int)devices.size(); ++i) {
        SnapshotDevice& current = devices[i];
        *device = i;
        current.parent = -1;
        if (!current.hasParent) {
            if (root_ >= 0)
                return SecondRoot;
            root_ = i;
            continue;
        }
        current.parent = FindDevice(current.parentHandle);
        if (current.parent < 0)
            return UnknownParent;
    }
    *device = -1;
    if (root_ < 0)
        return NoRoot;
    LinkChildren();
    return FindUnreachable(device);
}

void Snapshot::LinkChildren()
{
    // Children keep the order in which they stand in the snapshot.
    std::vector<int> lastChild(devices.size(), -1);
    for (SnapshotDevice& current : devices)
        current.firstChild = current.nextSibling = -1;
    for (int i = 0; i < (int)devices.size(); ++i) {
        int parent = devices[i].parent;
        if (parent < 0)
            continue;
        if (lastChild[parent] < 0)
            devices[parent].firstChild = i;
        else
            devices[lastChild[parent]].nextSibling = i;
        lastChild[parent] = i;
    }
}

Snapshot::Problem Snapshot::FindUnreachable(int* device) const
{
    // A walk from the root, level by level, reaches every device of a tree;
    // a device it misses hangs in a cycle of parents.
    std::vector<char> reached(devices.size(), 0);
    std::vector<int> level(1, root_), next;
    reached[root_] = 1;
    int depth = 0;
    while (!level.empty()) {
        next.clear();
        for (int parent : level)
            for (int child = devices[parent].firstChild; child >= 0;
                 child = devices[child].nextSibling) {
                reached[child] = 1;
                next.push_back(child);
            }
        if (!next.empty() && ++depth > DeepestTree) {
            *device = next.front();
            return TooDeep;
        }
        level.swap(next);
    }
    for (int i = 0; i < (int)devices.size(); ++i) {
        if (!reached[i]) {
            *device = i;
            return Cycle;
        }
    }
    return Sound;
}

int Snapshot::FindDevice(DEVINST handle) const
{
    auto found = byHandle_.find(handle);
    return found == byHandle_.end() ? -1 : found->second;
}

int Snapshot::FindDeviceById(const wchar_t* instanceId) const
{
    if (!instanceId)
        return -1;
    auto found = byUpperId_.find(UpperAscii(instanceId));
    return found == byUpperId_.end() ? -1 : found->second;
}

const SnapshotClass* Snapshot::FindClass(const GUID& guid) const
{
    auto found = classByGuid_.find(guid);
    return found == classByGuid_.end() ? nullptr : &classes[found->second];
}

const std::vector<int>& Snapshot::ListedDevices(const GUID* guid, bool all) const
{
    if (all)
        return listed_;
    if (!guid)
        return none_;
    auto found = listedByClass_.find(*guid);
    return found == listedByClass_.end() ? none_ : found->second;
}
