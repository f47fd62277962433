#pragma once

#include <windows.h>

#include <memory>
#include <unordered_map>
#include <vector>

#include "snapshot/Snapshot.h"

// Two moments of a machine (or two machines) side by side: the devices of
// both matched by instance ID, each with what became of it, and the union
// of both trees as a snapshot of its own, so that the device model shows it
// as it shows any machine. The union is the later moment's tree, with every
// device that is gone placed under its parent as it was (under the root when
// that parent is gone from both trees' common part too, which only the
// earlier root can be); a device that moved stands under its present
// parent. Present devices keep their devnode handles; removed ones get new
// handles above every handle of the later moment.
class DeviceComparison {
public:
    enum Change {
        Unchanged = 0,
        Added = 1,   // present only now
        Removed = 2, // present only before
        Changed = 3, // present in both, with any difference
    };
    static const int ChangeCount = 4;

    // Compares `before` with `now`; 0 when either is missing or not indexed
    // as one tree (nothing changes then).
    [[nodiscard]] int Compare(std::shared_ptr<const Snapshot> before, std::shared_ptr<const Snapshot> now);
    void Clear();
    bool IsEmpty() const { return !union_; }

    const std::shared_ptr<const Snapshot>& Before() const { return before_; }
    const std::shared_ptr<const Snapshot>& Now() const { return now_; }
    std::shared_ptr<const Snapshot> Union() const { return union_; }
    // The union cut down to the devices that changed in any way and their
    // ancestors (the root alone when nothing changed); made on first use.
    std::shared_ptr<const Snapshot> ChangedOnly();

    // By the devnode handle of the union (and of ChangedOnly).
    Change ChangeOf(DEVINST handle) const;
    // The device's index in the earlier snapshot, or -1.
    int BeforeIndexOf(DEVINST handle) const;
    // How many devices changed so.
    int Count(Change change) const { return counts_[change]; }

    // Whether two devices of the same instance ID differ in anything the
    // property list shows of them: status and problem, parent, setup
    // class, any registry property, device property or value of their
    // registry keys, or anything of their setup class.
    static bool Differ(const Snapshot& before, const SnapshotDevice& was, const Snapshot& now,
                       const SnapshotDevice& is);

private:
    struct Entry {
        Change change;
        int before;
    };
    int BuildUnion();
    const Entry* Find(DEVINST handle) const;

    std::shared_ptr<const Snapshot> before_;
    std::shared_ptr<const Snapshot> now_;
    std::shared_ptr<Snapshot> union_;
    std::shared_ptr<Snapshot> changedOnly_;
    std::unordered_map<DEVINST, Entry> entries_;
    int counts_[ChangeCount] = {};
};
