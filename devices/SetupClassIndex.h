#pragma once

#include "devices/DeviceApi.h"

// The setup class of every device, read from one device information set of
// all classes: building a set costs a walk of the whole device database on
// Windows, so one enumeration asks for exactly one and looks devnodes up in
// it, instead of searching a set per node.
class SetupClassIndex {
public:
    SetupClassIndex() = default;
    ~SetupClassIndex() { Clear(); }
    SetupClassIndex(const SetupClassIndex&) = delete;
    SetupClassIndex& operator=(const SetupClassIndex&) = delete;

    // Reads the set afresh; 0 when it cannot be had (the index is then
    // empty, and every lookup fails).
    int Build(const DeviceApi& api);
    void Clear();
    bool IsBuilt() const { return built_; }
    int Count() const { return count_; }

    // The class GUID that the set's element of `devnode` carries (GUID_NULL
    // for a device without a setup class); 0 when the set has no such element.
    [[nodiscard]] int Find(DEVINST devnode, GUID& classGuid) const;

private:
    struct Entry {
        DEVINST devnode;
        GUID classGuid;
    };
    int Append(const Entry& entry);

    Entry* entries_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    bool built_ = false;
};
