#pragma once

#include "devices/DeviceApi.h"

// The class icons: one icon per setup class, asked for once while the model
// runs, shared by every node of the class and destroyed once. Windows hands
// out a new icon per call and allows a process 10,000 user-interface
// objects, so an icon per node would not even load on a large machine.
// Each icon also remembers its index in the tree's image list for the
// current rebuild, so that it goes into the list once.
class ClassIconCache {
public:
    ClassIconCache() = default;
    ~ClassIconCache() { Clear(); }
    ClassIconCache(const ClassIconCache&) = delete;
    ClassIconCache& operator=(const ClassIconCache&) = delete;

    // The icon of the class, or none when it has none (asked once).
    HICON Icon(const DeviceApi& api, const GUID& classGuid);
    // Destroys every icon.
    void Clear();
    // Icons held (classes without an icon do not count).
    int Count() const;

    // The image list index recorded for `icon` in this rebuild; 0 when none
    // was recorded yet.
    int Image(HICON icon, int* image) const;
    void SetImage(HICON icon, int image);
    // The tree's image list was emptied: no icon is in it any more.
    void ForgetImages();

private:
    struct Entry {
        GUID classGuid;
        HICON icon;
        int image; // -1: not in the image list of this rebuild
    };
    Entry* FindIcon(HICON icon) const;

    Entry* entries_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
};
