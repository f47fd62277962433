#include "compare/DeviceComparison.h"

#include <algorithm>

namespace {

bool SameKey(const DEVPROPKEY& a, const DEVPROPKEY& b)
{
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid) != 0;
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z')
            x = (wchar_t)(x - L'a' + L'A');
        if (y >= L'a' && y <= L'z')
            y = (wchar_t)(y - L'a' + L'A');
        if (x != y)
            return false;
    }
    return true;
}

// Lists that hold the same entries, each found by its own kind of name,
// in whatever order.
template <typename Entry, typename SameName>
bool SameEntries(const std::vector<Entry>& a, const std::vector<Entry>& b, SameName sameName)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        // Mostly in the same order: look there first.
        const Entry* match = sameName(a[i], b[i]) ? &b[i] : nullptr;
        for (size_t j = 0; !match && j < b.size(); ++j)
            if (sameName(a[i], b[j]))
                match = &b[j];
        if (!match || !(a[i].value == match->value))
            return false;
    }
    return true;
}

bool SameKeyValues(const SnapshotKey& a, const SnapshotKey& b)
{
    return a.present == b.present &&
           SameEntries(a.values, b.values, [](const SnapshotNamedValue& x, const SnapshotNamedValue& y) {
               return SameText(x.name, y.name);
           });
}

bool SameKeyList(const std::vector<DEVPROPKEY>& a, const std::vector<DEVPROPKEY>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!SameKey(a[i], b[i]))
            return false;
    return true;
}

bool SameClass(const SnapshotClass* a, const SnapshotClass* b)
{
    if (!a || !b)
        return a == b;
    return a->hasName == b->hasName && a->name == b->name && a->icon == b->icon &&
           a->hasInstallerPropertyKeys == b->hasInstallerPropertyKeys &&
           SameKeyList(a->installerPropertyKeys, b->installerPropertyKeys) &&
           a->hasInterfacePropertyKeys == b->hasInterfacePropertyKeys &&
           SameKeyList(a->interfacePropertyKeys, b->interfacePropertyKeys) &&
           SameKeyValues(a->installerKey, b->installerKey) && SameKeyValues(a->interfaceKey, b->interfaceKey);
}

bool SameParent(const Snapshot& before, const SnapshotDevice& was, const Snapshot& now,
                const SnapshotDevice& is)
{
    if ((was.parent < 0) != (is.parent < 0))
        return false;
    if (was.parent < 0)
        return true;
    const SnapshotDevice& a = before.devices[was.parent];
    const SnapshotDevice& b = now.devices[is.parent];
    if (a.hasInstanceId != b.hasInstanceId)
        return false;
    return a.hasInstanceId ? SameText(a.instanceId, b.instanceId) : a.handle == b.handle;
}

// The device of `other` that is `device` at another moment: the one of the
// same instance ID, or for a device without one, the one without one at the
// same handle; -1 when there is none.
int Counterpart(const SnapshotDevice& device, const Snapshot& other)
{
    if (device.hasInstanceId)
        return other.FindDeviceById(device.instanceId.c_str());
    int index = other.FindDevice(device.handle);
    return index >= 0 && !other.devices[index].hasInstanceId ? index : -1;
}

} // namespace

bool DeviceComparison::Differ(const Snapshot& before, const SnapshotDevice& was, const Snapshot& now,
                              const SnapshotDevice& is)
{
    if (was.hasStatus != is.hasStatus ||
        (is.hasStatus && (was.status != is.status || was.problem != is.problem)))
        return true;
    if (!SameParent(before, was, now, is))
        return true;
    if (was.listed != is.listed || (is.listed && !IsEqualGUID(was.setupClass, is.setupClass)))
        return true;
    if (!SameEntries(was.registryProperties, is.registryProperties,
                     [](const SnapshotRegistryProperty& a, const SnapshotRegistryProperty& b) {
                         return a.code == b.code;
                     }) ||
        !SameEntries(was.properties, is.properties,
                     [](const SnapshotProperty& a, const SnapshotProperty& b) { return SameKey(a.key, b.key); }) ||
        !SameKeyValues(was.hardwareKey, is.hardwareKey) || !SameKeyValues(was.softwareKey, is.softwareKey))
        return true;
    return is.listed && !SameClass(before.FindClass(was.setupClass), now.FindClass(is.setupClass));
}

void DeviceComparison::Clear()
{
    before_.reset();
    now_.reset();
    union_.reset();
    changedOnly_.reset();
    entries_.clear();
    std::fill(counts_, counts_ + ChangeCount, 0);
}

int DeviceComparison::Compare(std::shared_ptr<const Snapshot> before, std::shared_ptr<const Snapshot> now)
{
    if (!before || !now || before->Root() < 0 || now->Root() < 0)
        return 0;
    Clear();
    before_ = std::move(before);
    now_ = std::move(now);
    if (!BuildUnion()) {
        Clear();
        return 0;
    }
    return 1;
}

int DeviceComparison::BuildUnion()
{
    const Snapshot& before = *before_;
    const Snapshot& now = *now_;
    auto merged = std::make_shared<Snapshot>();
    merged->header = now.header;
    merged->classes = now.classes;
    for (const SnapshotClass& setupClass : before.classes)
        if (!now.FindClass(setupClass.guid))
            merged->classes.push_back(setupClass);
    merged->devices.reserve(now.devices.size() + before.devices.size() / 8);
    merged->devices = now.devices;
    entries_.reserve(merged->devices.size());

    DEVINST highest = 0;
    for (const SnapshotDevice& device : now.devices) {
        highest = std::max(highest, device.handle);
        int was = Counterpart(device, before);
        Change change = was < 0 ? Added : Differ(before, before.devices[was], now, device) ? Changed : Unchanged;
        entries_[device.handle] = Entry{change, was};
        ++counts_[change];
    }

    // The devices gone since, parents first (depth first from the earlier
    // root), each under its parent's handle in the union.
    std::vector<DEVINST> unionHandle(before.devices.size(), 0);
    std::vector<int> pending(1, before.Root());
    while (!pending.empty()) {
        int index = pending.back();
        pending.pop_back();
        const SnapshotDevice& device = before.devices[index];
        for (int child = device.firstChild; child >= 0; child = before.devices[child].nextSibling)
            pending.push_back(child);
        int is = Counterpart(device, now);
        if (is >= 0) {
            unionHandle[index] = now.devices[is].handle;
            continue;
        }
        if (highest == 0xFFFFFFFF)
            return 0;
        SnapshotDevice gone = device;
        gone.handle = unionHandle[index] = ++highest;
        gone.hasParent = true;
        gone.parentHandle = device.parent >= 0 ? unionHandle[device.parent] : now.devices[now.Root()].handle;
        merged->devices.push_back(std::move(gone));
        entries_[highest] = Entry{Removed, index};
        ++counts_[Removed];
    }
    if (merged->Index() != Snapshot::Sound)
        return 0;
    union_ = std::move(merged);
    return 1;
}

std::shared_ptr<const Snapshot> DeviceComparison::ChangedOnly()
{
    if (!union_)
        return nullptr;
    if (changedOnly_)
        return changedOnly_;
    const Snapshot& whole = *union_;
    std::vector<char> kept(whole.devices.size(), 0);
    kept[whole.Root()] = 1;
    for (int i = 0; i < (int)whole.devices.size(); ++i) {
        if (ChangeOf(whole.devices[i].handle) == Unchanged)
            continue;
        for (int at = i; at >= 0 && !kept[at]; at = whole.devices[at].parent)
            kept[at] = 1;
    }
    auto cut = std::make_shared<Snapshot>();
    cut->header = whole.header;
    cut->classes = whole.classes;
    for (int i = 0; i < (int)whole.devices.size(); ++i)
        if (kept[i])
            cut->devices.push_back(whole.devices[i]);
    if (cut->Index() != Snapshot::Sound)
        return nullptr;
    changedOnly_ = std::move(cut);
    return changedOnly_;
}

const DeviceComparison::Entry* DeviceComparison::Find(DEVINST handle) const
{
    auto found = entries_.find(handle);
    return found == entries_.end() ? nullptr : &found->second;
}

DeviceComparison::Change DeviceComparison::ChangeOf(DEVINST handle) const
{
    const Entry* entry = Find(handle);
    return entry ? entry->change : Unchanged;
}

int DeviceComparison::BeforeIndexOf(DEVINST handle) const
{
    const Entry* entry = Find(handle);
    return entry ? entry->before : -1;
}
