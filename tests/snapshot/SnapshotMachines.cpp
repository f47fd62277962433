#include "SnapshotMachines.h"

#include "common/RecordingListSink.h"
#include "common/RecordingTreeSink.h"
#include "common/ReferenceData.h"
#include "snapshot/SnapshotCapture.h"
#include "snapshot/SnapshotWriter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void Collect(DeviceNode* first, std::vector<DeviceNode*>& out)
{
    for (DeviceNode* node = first; node; node = node->next) {
        out.push_back(node);
        Collect(node->children.First(), out);
    }
}

} // namespace

std::string ShownMachine(DeviceTree& model, size_t step)
{
    RecordingTreeSink tree;
    model.RebuildTree(tree, nullptr);
    std::string text = ReferenceData::TreeText(tree);
    std::vector<DeviceNode*> nodes;
    Collect(model.TopLevel().First(), nodes);
    for (size_t i = 0; i < nodes.size(); i += step) {
        RecordingListSink list;
        model.FillPropertyList(list, nodes[i]);
        text += "== node " + std::to_string(i) + "\n" + ReferenceData::RowsText(list);
    }
    return text;
}

std::shared_ptr<Snapshot> CaptureSimulated()
{
    DeviceTree live;
    live.Start();
    SnapshotHeader header;
    header.computer = L"SIMULATED";
    header.taken = L"2026-12-09T08:21:00Z";
    header.quillmere = L"1.00";
    auto snapshot = std::make_shared<Snapshot>();
    EXPECT_EQ(1, SnapshotCapture::Capture(live.Api(), header, *snapshot));
    return snapshot;
}

std::string SnapshotText(const Snapshot& snapshot)
{
    std::string text;
    EXPECT_EQ(1, SnapshotWriter::Write(snapshot, text));
    return text;
}

std::string FirstDifference(const std::string& expected, const std::string& actual)
{
    if (expected == actual)
        return std::string();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    size_t start = expected.rfind('\n', at ? at - 1 : 0);
    start = start == std::string::npos ? 0 : start + 1;
    auto line = [&](const std::string& text) {
        size_t end = text.find('\n', start);
        return start > text.size() ? std::string() : text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    };
    size_t number = 1;
    for (size_t i = 0; i < start; ++i)
        number += expected[i] == '\n';
    return "line " + std::to_string(number) + "\n  expected: " + line(expected) + "\n  actual:   " + line(actual);
}
