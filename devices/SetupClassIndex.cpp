#include "devices/SetupClassIndex.h"
#include "devices/DeviceInfoSet.h"

#include <stdlib.h>
#include <string.h>

namespace {

// A failing element other than the end is skipped, but a set that keeps
// failing is given up rather than walked for ever.
const int MostFailuresInARow = 64;

int CompareDevnodes(const void* a, const void* b)
{
    DEVINST left = *(const DEVINST*)a, right = *(const DEVINST*)b;
    return left < right ? -1 : left > right ? 1 : 0;
}

} // namespace

void SetupClassIndex::Clear()
{
    free(entries_);
    entries_ = nullptr;
    count_ = 0;
    capacity_ = 0;
    built_ = false;
}

int SetupClassIndex::Append(const Entry& entry)
{
    if (count_ == capacity_) {
        int grown = capacity_ ? capacity_ * 2 : 256;
        Entry* larger = (Entry*)realloc(entries_, (size_t)grown * sizeof(Entry));
        if (!larger)
            return 0;
        entries_ = larger;
        capacity_ = grown;
    }
    entries_[count_++] = entry;
    return 1;
}

int SetupClassIndex::Build(const DeviceApi& api)
{
    Clear();
    built_ = true;
    if (!api.SetupDiEnumDeviceInfo())
        return 0;
    HDEVINFO handle = api.GetClassDevs(nullptr, DIGCF_ALLCLASSES);
    if (handle == INVALID_HANDLE_VALUE || !handle)
        return 0;
    DeviceInfoSet set;
    SP_DEVINFO_DATA none = {};
    set.Adopt(&api, handle, none);
    int failures = 0;
    for (DWORD index = 0; failures < MostFailuresInARow; ++index) {
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof(element);
        if (!api.SetupDiEnumDeviceInfo()(handle, index, &element)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS)
                break;
            ++failures;
            continue;
        }
        failures = 0;
        if (!Append({element.DevInst, element.ClassGuid}))
            break;
    }
    // Windows lists the devices in no promised order.
    qsort(entries_, count_, sizeof(Entry), CompareDevnodes);
    return 1;
}

int SetupClassIndex::Find(DEVINST devnode, GUID& classGuid) const
{
    int low = 0, high = count_ - 1;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        if (entries_[middle].devnode == devnode) {
            classGuid = entries_[middle].classGuid;
            return 1;
        }
        if (entries_[middle].devnode < devnode)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return 0;
}
