#include "devices/ClassIconCache.h"

#include <stdlib.h>

HICON ClassIconCache::Icon(const DeviceApi& api, const GUID& classGuid)
{
    // A machine has a few dozen classes: a linear search is the fastest.
    for (int i = 0; i < count_; ++i)
        if (IsEqualGUID(entries_[i].classGuid, classGuid))
            return entries_[i].icon;
    if (!api.SetupDiLoadClassIcon())
        return nullptr;
    if (count_ == capacity_) {
        int grown = capacity_ ? capacity_ * 2 : 16;
        Entry* larger = (Entry*)realloc(entries_, (size_t)grown * sizeof(Entry));
        if (!larger)
            return nullptr;
        entries_ = larger;
        capacity_ = grown;
    }
    HICON loaded = nullptr;
    if (!api.SetupDiLoadClassIcon()(&classGuid, &loaded, nullptr))
        loaded = nullptr;
    // A class without an icon is remembered too, so it is not asked again.
    entries_[count_++] = {classGuid, loaded, -1};
    return loaded;
}

void ClassIconCache::Clear()
{
    for (int i = 0; i < count_; ++i)
        if (entries_[i].icon)
            DestroyIcon(entries_[i].icon);
    free(entries_);
    entries_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

int ClassIconCache::Count() const
{
    int icons = 0;
    for (int i = 0; i < count_; ++i)
        icons += entries_[i].icon != nullptr;
    return icons;
}

ClassIconCache::Entry* ClassIconCache::FindIcon(HICON icon) const
{
    for (int i = 0; i < count_; ++i)
        if (icon && entries_[i].icon == icon)
            return &entries_[i];
    return nullptr;
}

int ClassIconCache::Image(HICON icon, int* image) const
{
    Entry* entry = FindIcon(icon);
    if (!entry || entry->image < 0)
        return 0;
    *image = entry->image;
    return 1;
}

void ClassIconCache::SetImage(HICON icon, int image)
{
    Entry* entry = FindIcon(icon);
    if (entry)
        entry->image = image;
}

void ClassIconCache::ForgetImages()
{
    for (int i = 0; i < count_; ++i)
        entries_[i].image = -1;
}
