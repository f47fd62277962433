// The trees the model shows for the default and the generated machines,
// whole (texts in order, image identity, status, child flags), unfiltered
// and filtered, against reference data recorded from the model as it was
// first written.

#include <gtest/gtest.h>

#include "common/RecordingTreeSink.h"
#include "common/ReferenceData.h"
#include "common/SimulatedMachine.h"
#include "devices/DeviceTree.h"

#include <memory>
#include <string>
#include <vector>

namespace {

// The unfiltered and filtered trees of a machine file beside the tests
// (none: the default machine), as one text.
std::string Trees(const wchar_t* file, const std::vector<const wchar_t*>& filters)
{
    std::unique_ptr<SimulatedMachine> machine(
        file ? new SimulatedMachine(ReferenceData::BesideExe(file)) : new SimulatedMachine());
    DeviceTree model;
    model.Start();
    RecordingTreeSink tree;
    model.RebuildTree(tree, nullptr);
    std::string text = ReferenceData::TreeText(tree);
    for (const wchar_t* filter : filters) {
        RecordingTreeSink filtered;
        model.RebuildTree(filtered, filter);
        std::string name;
        for (const wchar_t* p = filter; *p; ++p)
            name += (char)*p;
        text += "== filter \"" + name + "\"\n" + ReferenceData::TreeText(filtered);
    }
    EXPECT_EQ(0, SimulatedMachine::OpenSets());
    return text;
}

} // namespace

TEST(ReferenceTree, DefaultMachine)
{
    std::string text = Trees(nullptr, {L"usb", L"Intel", L"rOOT", L"Kopfh\u00F6rer", L"no such device"});
    ASSERT_GT(text.size(), 1000u) << SimulatedMachine::LastError();
    ReferenceData::ExpectMatches("default.tree.txt", text);
}

TEST(ReferenceTree, GeneratedMachineOf5000Devnodes)
{
    std::string text = Trees(L"machine_5000.txt", {L"Keyboard", L"a", L"Disk"});
    ASSERT_GT(text.size(), 100000u) << SimulatedMachine::LastError();
    ReferenceData::ExpectMatches("machine_5000.tree.txt", text);
}

TEST(ReferenceTree, GeneratedMachineOf20000Devnodes)
{
    std::string text = Trees(L"machine_20000.txt", {L"Keyboard"});
    ASSERT_GT(text.size(), 100000u) << SimulatedMachine::LastError();
    ReferenceData::ExpectMatches("machine_20000.tree.digest", ReferenceData::Digest(text));
}
