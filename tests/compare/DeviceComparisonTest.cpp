// The comparison of two moments: the union matched by instance ID with each
// device's change, the rows of a device before and now, and the colours of
// the marks, on simulated machines that differ in known ways.

#include <gtest/gtest.h>

#include "common/MachinesThatDiffer.h"
#include "common/RecordingTreeSink.h"
#include "common/SimulatedMachine.h"
#include "compare/ComparedMachines.h"
#include "compare/DeviceComparison.h"
#include "compare/MarkedTreeSink.h"
#include "snapshot/SnapshotCapture.h"

#include <map>
#include <memory>
#include <string>

namespace {

std::shared_ptr<const Snapshot> CaptureOf(const char* machineText)
{
    SimulatedMachine machine(machineText);
    DeviceTree model;
    model.Start();
    SnapshotHeader header;
    header.computer = L"SIMULATED";
    auto snapshot = std::make_shared<Snapshot>();
    EXPECT_EQ(1, SnapshotCapture::Capture(model.Api(), header, *snapshot));
    return snapshot;
}

const SnapshotDevice& DeviceOf(const Snapshot& snapshot, const wchar_t* id)
{
    int index = snapshot.FindDeviceById(id);
    EXPECT_GE(index, 0) << "no device " << std::string(id, id + wcslen(id));
    return snapshot.devices[index < 0 ? 0 : index];
}

std::wstring ParentIdOf(const Snapshot& snapshot, const wchar_t* id)
{
    const SnapshotDevice& device = DeviceOf(snapshot, id);
    return device.parent < 0 ? L"" : snapshot.devices[device.parent].instanceId;
}

// Every device of the union by instance ID, with its change as a letter.
std::map<std::wstring, char> Changes(const DeviceComparison& comparison, const Snapshot& shown)
{
    const char letters[] = "=+-*";
    std::map<std::wstring, char> changes;
    for (const SnapshotDevice& device : shown.devices)
        changes[device.instanceId] = letters[comparison.ChangeOf(device.handle)];
    return changes;
}

class DeviceComparisonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        earlier = CaptureOf(EarlierMachine);
        later = CaptureOf(LaterMachine);
    }
    static void TearDownTestSuite()
    {
        earlier.reset();
        later.reset();
    }
    static inline std::shared_ptr<const Snapshot> earlier;
    static inline std::shared_ptr<const Snapshot> later;
};

} // namespace

TEST_F(DeviceComparisonTest, UnionHoldsEachChangeInItsPlace)
{
    DeviceComparison comparison;
    ASSERT_EQ(1, comparison.Compare(earlier, later));
    std::shared_ptr<const Snapshot> merged = comparison.Union();
    ASSERT_TRUE(merged);
    const Snapshot& shown = *merged;
    std::map<std::wstring, char> expected = {
        {L"HTREE\\ROOT\\0", '='},   {L"PCI\\BRIDGE\\1", '='},    {L"PCI\\NIC\\1", '*'},
        {L"USB\\HUB\\1", '*'},      {L"PCI\\BRIDGE\\2", '*'},    {L"PCI\\GPU\\1", '*'},
        {L"ROOT\\OLD\\0000", '-'},  {L"ROOT\\SICK\\0000", '*'},  {L"ROOT\\STEADY\\0000", '='},
        {L"ROOT\\NEW\\0000", '+'},
    };
    EXPECT_EQ(expected, Changes(comparison, shown));
    EXPECT_EQ(3, comparison.Count(DeviceComparison::Unchanged));
    EXPECT_EQ(1, comparison.Count(DeviceComparison::Added));
    EXPECT_EQ(1, comparison.Count(DeviceComparison::Removed));
    EXPECT_EQ(5, comparison.Count(DeviceComparison::Changed));

    // The moved hub stands under its present parent, the removed device
    // under its parent as it was, with a handle no present device has.
    EXPECT_EQ(L"PCI\\BRIDGE\\2", ParentIdOf(shown, L"USB\\HUB\\1"));
    EXPECT_EQ(L"HTREE\\ROOT\\0", ParentIdOf(shown, L"ROOT\\OLD\\0000"));
    const SnapshotDevice& gone = DeviceOf(shown, L"ROOT\\OLD\\0000");
    EXPECT_LT(later->FindDevice(gone.handle), 0);
    EXPECT_EQ(DeviceOf(*earlier, L"ROOT\\OLD\\0000").registryProperties.size(),
              gone.registryProperties.size());
    EXPECT_EQ(earlier->FindDeviceById(L"ROOT\\OLD\\0000"), comparison.BeforeIndexOf(gone.handle));
    EXPECT_EQ(-1, comparison.BeforeIndexOf(DeviceOf(shown, L"ROOT\\NEW\\0000").handle));

    // Changed only: the changed devices and their ancestors.
    std::shared_ptr<const Snapshot> cut = comparison.ChangedOnly();
    ASSERT_TRUE(cut);
    std::map<std::wstring, char> kept = expected;
    kept.erase(L"ROOT\\STEADY\\0000");
    EXPECT_EQ(kept, Changes(comparison, *cut));
}

TEST_F(DeviceComparisonTest, MomentComparedWithItselfShowsNoChange)
{
    DeviceComparison comparison;
    ASSERT_EQ(1, comparison.Compare(later, CaptureOf(LaterMachine)));
    EXPECT_EQ((int)later->devices.size(), comparison.Count(DeviceComparison::Unchanged));
    EXPECT_EQ(0, comparison.Count(DeviceComparison::Added) + comparison.Count(DeviceComparison::Removed) +
                     comparison.Count(DeviceComparison::Changed));
    EXPECT_EQ(later->devices.size(), comparison.Union()->devices.size());
    EXPECT_EQ(1u, comparison.ChangedOnly()->devices.size()) << "the root alone";
}

TEST_F(DeviceComparisonTest, MachinesWithOtherRootsAndDevicesWithoutIdsStillFormOneTree)
{
    // Another machine whose root has another ID: the earlier root and what
    // is only under it are removed, below the later root; devices without
    // an instance ID are matched by handle, and never to one with an ID.
    auto other = std::make_shared<Snapshot>(*earlier);
    other->devices[other->Root()].instanceId = L"HTREE\\ROOT\\OTHER";
    SnapshotDevice nameless = other->devices[other->FindDeviceById(L"ROOT\\STEADY\\0000")];
    nameless.hasInstanceId = false;
    nameless.instanceId.clear();
    nameless.handle = 0x7777;
    other->devices.push_back(nameless);
    ASSERT_EQ(Snapshot::Sound, other->Index());

    DeviceComparison comparison;
    ASSERT_EQ(1, comparison.Compare(other, later));
    std::shared_ptr<const Snapshot> merged = comparison.Union();
    ASSERT_TRUE(merged);
    const Snapshot& shown = *merged;
    EXPECT_EQ(L"HTREE\\ROOT\\0", shown.devices[shown.Root()].instanceId);
    EXPECT_EQ(DeviceComparison::Removed, comparison.ChangeOf(DeviceOf(shown, L"HTREE\\ROOT\\OTHER").handle));
    EXPECT_EQ(L"HTREE\\ROOT\\0", ParentIdOf(shown, L"HTREE\\ROOT\\OTHER"));
    // Present devices whose parent was the other root count as changed.
    EXPECT_EQ(DeviceComparison::Changed, comparison.ChangeOf(DeviceOf(shown, L"ROOT\\STEADY\\0000").handle));
    EXPECT_EQ(3, comparison.Count(DeviceComparison::Removed))
        << "the other root, ROOT\\OLD\\0000 and the nameless device";

    // Missing or unindexed moments are refused, and nothing is kept.
    EXPECT_EQ(0, comparison.Compare(nullptr, later));
    EXPECT_EQ(0, comparison.Compare(std::make_shared<Snapshot>(), later));
    EXPECT_FALSE(comparison.IsEmpty());
}

namespace {

// The rows of `id` in the union shown by `machines`, as "key|value|before"
// for the rows marked, in list order.
std::vector<std::wstring> MarkedRows(ComparedMachines& machines, DeviceTree& shown, const wchar_t* id,
                                     size_t* rowCount = nullptr)
{
    RecordingTreeSink tree;
    shown.RebuildTree(tree, nullptr);
    DeviceNode* found = nullptr;
    std::vector<RecordingTreeSink::Item*> pending(tree.Roots());
    while (!pending.empty() && !found) {
        RecordingTreeSink::Item* item = pending.back();
        pending.pop_back();
        DeviceNode* node = (DeviceNode*)item->param;
        WideString nodeId;
        if (node && node->InstanceId(nodeId) && wcscmp(nodeId.Text(), id) == 0)
            found = node;
        pending.insert(pending.end(), item->items.begin(), item->items.end());
    }
    std::vector<std::wstring> marked;
    EXPECT_TRUE(found);
    std::vector<ComparedRow> rows;
    machines.Rows(shown, found, rows);
    if (rowCount)
        *rowCount = rows.size();
    for (const ComparedRow& row : rows)
        if (row.differs)
            marked.push_back(row.row.key + L"|" + row.row.value + L"|" + row.beforeValue);
    return marked;
}

} // namespace

TEST_F(DeviceComparisonTest, RowsShowWhatDiffersBesideWhatWasThere)
{
    ComparedMachines machines;
    DWORD error = 0;
    ASSERT_EQ(1, machines.Start(earlier, later, &error));
    DeviceTree shown;
    shown.Api().UseBinding(machines.Binding());
    ASSERT_EQ(1, shown.Start());

    const std::wstring version = L"{A8B865DD-2E3D-4094-AD97-E593A70C75D6} [3]";
    size_t rows = 0;
    std::vector<std::wstring> adapter = MarkedRows(machines, shown, L"PCI\\NIC\\1", &rows);
    std::vector<std::wstring> expected = {version + L"|2.0|1.0", L"Legacy||yes"};
    EXPECT_EQ(expected, adapter);
    EXPECT_EQ(8u, rows) << "every row is shown, not only those that differ";

    std::vector<std::wstring> sick = MarkedRows(machines, shown, L"ROOT\\SICK\\0000");
    ASSERT_EQ(1u, sick.size());
    EXPECT_EQ(0u, sick[0].find(L"Status|")) << sick[0];
    EXPECT_NE(std::wstring::npos, sick[0].find(L"Problem: 0x16 (DISABLED)|")) << sick[0];

    // Only before: the old values, nothing now; only now: nothing before.
    for (const std::wstring& row : MarkedRows(machines, shown, L"ROOT\\OLD\\0000", &rows))
        EXPECT_NE(std::wstring::npos, row.find(L"||")) << row;
    EXPECT_GT(rows, 3u);
    std::vector<std::wstring> added = MarkedRows(machines, shown, L"ROOT\\NEW\\0000", &rows);
    EXPECT_EQ(rows, added.size());
    for (const std::wstring& row : added)
        EXPECT_EQ(L'|', row.back()) << row;

    // The hub moved: its rows are as they were; the unchanged device shows
    // nothing marked, though its devnode handle is another.
    EXPECT_TRUE(MarkedRows(machines, shown, L"USB\\HUB\\1").empty());
    EXPECT_TRUE(MarkedRows(machines, shown, L"ROOT\\STEADY\\0000").empty());

    // Reading the rows before left the model on the union.
    EXPECT_EQ(SnapshotBinding::Current(), machines.Binding());
    shown.Stop();
    machines.Stop();
}

TEST(ChangeMarks, ColoursStayApartInEveryScheme)
{
    for (bool highContrast : {false, true}) {
        COLORREF added = MarkedTreeSink::TextColour(DeviceComparison::Added, highContrast);
        COLORREF removed = MarkedTreeSink::TextColour(DeviceComparison::Removed, highContrast);
        COLORREF changed = MarkedTreeSink::TextColour(DeviceComparison::Changed, highContrast);
        EXPECT_NE(added, removed);
        EXPECT_NE(added, changed);
        EXPECT_NE(removed, changed);
        COLORREF background = highContrast ? GetSysColor(COLOR_WINDOW) : RGB(255, 255, 255);
        for (COLORREF colour : {added, removed, changed})
            EXPECT_NE(background, colour);
    }
    EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), MarkedTreeSink::TextColour(DeviceComparison::Removed, true));
}
