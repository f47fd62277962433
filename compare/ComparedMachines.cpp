#include "compare/ComparedMachines.h"

#include "properties/PropertyList.h"

ComparedMachines::ComparedMachines()
{
    beforeModel_.Api().UseBinding(&before_);
}

ComparedMachines::~ComparedMachines()
{
    Stop();
}

int ComparedMachines::Start(std::shared_ptr<const Snapshot> before, std::shared_ptr<const Snapshot> now,
                            DWORD* error)
{
    DWORD ignored = 0;
    if (!error)
        error = &ignored;
    *error = 0;
    Stop();
    if (!comparison_.Compare(std::move(before), std::move(now)))
        return 0;
    if (!shown_.Serve(comparison_.Union(), error) || !before_.Serve(comparison_.Before(), error)) {
        Stop();
        return 0;
    }
    beforeModel_.Start();
    return 1;
}

void ComparedMachines::Stop()
{
    beforeModel_.Stop();
    before_.Stop();
    shown_.Stop();
    comparison_.Clear();
    changedOnly_ = false;
}

int ComparedMachines::ShowChangedOnly(bool on, DWORD* error)
{
    if (!IsActive())
        return 0;
    std::shared_ptr<const Snapshot> shown = on ? comparison_.ChangedOnly() : comparison_.Union();
    if (!shown || !shown_.Serve(shown, error))
        return 0;
    changedOnly_ = on;
    return 1;
}

DeviceComparison::Change ComparedMachines::ChangeOf(const DeviceNode* node) const
{
    return node && IsActive() ? comparison_.ChangeOf(node->devnode) : DeviceComparison::Unchanged;
}

void ComparedMachines::Rows(DeviceTree& shown, DeviceNode* node, std::vector<ComparedRow>& rows)
{
    rows.clear();
    if (!node || !IsActive())
        return;
    RowRecorder now, before;
    if (ChangeOf(node) != DeviceComparison::Removed)
        shown.FillPropertyList(now, node);
    int earlier = comparison_.BeforeIndexOf(node->devnode);
    if (earlier >= 0) {
        const SnapshotDevice& device = comparison_.Before()->devices[earlier];
        // The entry points serve the earlier moment until the shown
        // model's binding fills them again.
        if (before_.FillSlots(beforeModel_.Api())) {
            // Found as the shown model finds a device's class, so that both
            // sides read alike.
            DeviceNode was(&beforeModel_, device.handle);
            was.setupClassKnown = beforeModel_.SetupClassOf(was, was.setupClass) != 0;
            beforeModel_.FillPropertyList(before, &was);
        }
        if (shown.Api().Binding())
            shown.Api().Binding()->FillSlots(shown.Api());
    }
    CompareRows(before.rows, now.rows, rows);
}
