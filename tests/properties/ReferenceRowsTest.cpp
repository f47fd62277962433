// The property lists the model shows for devices of the default and the
// generated machines, every row with its group and four texts, against
// reference data recorded from the model as it was first written.

#include <gtest/gtest.h>

#include "common/RecordingListSink.h"
#include "common/RecordingTreeSink.h"
#include "common/ReferenceData.h"
#include "common/SimulatedMachine.h"
#include "devices/DeviceTree.h"

#include <string>
#include <vector>

namespace {

void Collect(DeviceNode* first, std::vector<DeviceNode*>& out)
{
    for (DeviceNode* node = first; node; node = node->next) {
        out.push_back(node);
        Collect(node->children.First(), out);
    }
}

// The rows of every `step`-th node in depth-first order, and of the node
// with the instance ID `also`.
std::string Rows(DeviceTree& model, size_t step, const wchar_t* also)
{
    RecordingTreeSink tree;
    model.RebuildTree(tree, nullptr);
    std::vector<DeviceNode*> nodes;
    Collect(model.TopLevel().First(), nodes);
    std::string text;
    for (size_t i = 0; i < nodes.size(); ++i) {
        WideString id;
        nodes[i]->InstanceId(id);
        if (i % step != 0 && !(also && id == also))
            continue;
        RecordingListSink list;
        model.FillPropertyList(list, nodes[i]);
        text += "== node " + std::to_string(i) + "\n" + ReferenceData::RowsText(list);
    }
    return text;
}

} // namespace

TEST(ReferenceRows, EveryDeviceOfTheDefaultMachine)
{
    SimulatedMachine machine;
    DeviceTree model;
    model.Start();
    std::string text = Rows(model, 1, nullptr);
    ASSERT_GT(text.size(), 1000u) << SimulatedMachine::LastError();
    ReferenceData::ExpectMatches("default.rows.txt", text);
    EXPECT_EQ(0, SimulatedMachine::OpenSets());
}

TEST(ReferenceRows, SampleDevicesOfTheGeneratedMachine)
{
    SimulatedMachine machine(ReferenceData::BesideExe(L"machine_5000.txt"));
    DeviceTree model;
    model.Start();
    std::string text =
        Rows(model, 250, L"PCI\\VEN_8086&DEV_15F3&SUBSYS_00008086&REV_03\\4&2F6A1C3B&0&00E4");
    ASSERT_GT(text.size(), 1000u) << SimulatedMachine::LastError();
    ReferenceData::ExpectMatches("machine_5000.rows.txt", text);
    EXPECT_EQ(0, SimulatedMachine::OpenSets());
}
