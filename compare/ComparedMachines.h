#pragma once

#include <memory>
#include <vector>

#include "compare/ComparedRows.h"
#include "compare/DeviceComparison.h"
#include "devices/DeviceTree.h"
#include "snapshot/SnapshotBinding.h"

// A comparison as the window shows it: the union of two moments served to
// the device model through a binding of its own (the whole union, or only
// the changed devices with their ancestors), and the earlier moment served
// to a model of its own, from which each device's rows before are read.
// Snapshot bindings serve one snapshot at a time, the one whose slots were
// filled last: reading the rows before switches to the earlier moment and
// back.
class ComparedMachines {
public:
    ComparedMachines();
    ~ComparedMachines();
    ComparedMachines(const ComparedMachines&) = delete;
    ComparedMachines& operator=(const ComparedMachines&) = delete;

    // Ends the comparison shown (the caller's model must be bound
    // elsewhere), compares and serves the union; the caller then binds its
    // model to Binding(). 0 when the two cannot be compared (`error` 0) or
    // no private hive could be had (`error` the system's code).
    [[nodiscard]] int Start(std::shared_ptr<const Snapshot> before, std::shared_ptr<const Snapshot> now,
                            DWORD* error);
    // Serves nothing more; the caller has bound its model elsewhere.
    void Stop();
    bool IsActive() const { return !comparison_.IsEmpty(); }

    DeviceBinding* Binding() { return &shown_; }
    const DeviceComparison& Comparison() const { return comparison_; }
    // Serves the changed devices with their ancestors, or the whole union
    // again; the caller rebinds its model. 0 when nothing changed.
    [[nodiscard]] int ShowChangedOnly(bool on, DWORD* error);
    bool ShowsChangedOnly() const { return changedOnly_; }

    DeviceComparison::Change ChangeOf(const DeviceNode* node) const;
    // The rows of `node` of `shown` (the model bound to Binding()) before
    // and now.
    void Rows(DeviceTree& shown, DeviceNode* node, std::vector<ComparedRow>& rows);

private:
    DeviceComparison comparison_;
    SnapshotBinding shown_;
    SnapshotBinding before_;
    DeviceTree beforeModel_;
    bool changedOnly_ = false;
};
