// The trees the model shows for the default and the generated machines,
// whole (texts in order, image identity, status, child flags), unfiltered
// and filtered, against reference data recorded from the model as it was
// first written.

#include <gtest/gtest.h>

#include "common/RecordingTreeSink.h"
#include "common/ReferenceData.h"
#include "common/SimulatedMachine.h"
#include "devices/DeviceTree.h"

#include <string>

namespace {

std::string Trees(DeviceTree& model, const std::vector<const wchar_t*>& filters)
{
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
    return text;
}

void ExpectReference(const char* file, const std::string& text)
{
    std::string difference;
    EXPECT_TRUE(ReferenceData::Matches(file, text, difference)) << difference;
}

} // namespace

TEST(ReferenceTree, DefaultMachine)
{
    SimulatedMachine machine;
    DeviceTree model;
    model.Start();
    std::string text = Trees(model, {L"usb", L"Intel", L"rOOT", L"Kopfh\u00F6rer", L"no such device"});
    ASSERT_GT(text.size(), 1000u) << SimulatedMachine::LastError();
    ExpectReference("default.tree.txt", text);
    EXPECT_EQ(0, SimulatedMachine::OpenSets());
}

TEST(ReferenceTree, GeneratedMachineOf5000Devnodes)
{
    SimulatedMachine machine(ReferenceData::BesideExe(L"machine_5000.txt"));
    DeviceTree model;
    model.Start();
    std::string text = Trees(model, {L"Keyboard", L"a", L"Disk"});
    ASSERT_GT(text.size(), 100000u) << SimulatedMachine::LastError();
    ExpectReference("machine_5000.tree.txt", text);
    EXPECT_EQ(0, SimulatedMachine::OpenSets());
}

TEST(ReferenceTree, GeneratedMachineOf20000Devnodes)
{
    SimulatedMachine machine(ReferenceData::BesideExe(L"machine_20000.txt"));
    DeviceTree model;
    model.Start();
    std::string text = Trees(model, {L"Keyboard"});
    ASSERT_GT(text.size(), 100000u) << SimulatedMachine::LastError();
    ExpectReference("machine_20000.tree.digest", ReferenceData::Digest(text));
    EXPECT_EQ(0, SimulatedMachine::OpenSets());
}
