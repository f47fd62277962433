// The central promise: a machine saved as a snapshot and shown from it looks
// exactly as it did live, tree and every property list; and the simulator
// that loads the same snapshot shows it the same way again.

#include <gtest/gtest.h>

#include "SnapshotMachines.h"
#include "common/ReferenceData.h"
#include "common/ScratchFile.h"
#include "common/SimulatedMachine.h"
#include "snapshot/SnapshotBinding.h"
#include "snapshot/SnapshotReader.h"

#include <memory>

namespace {

std::string ShownLive()
{
    DeviceTree live;
    live.Start();
    return ShownMachine(live);
}

// `throughSimulator`: the simulator loads the saved snapshot and the model
// shows it live once more.
void ExpectRoundTrip(bool throughSimulator)
{
    std::string live = ShownLive();
    ASSERT_GT(live.size(), 1000u) << SimulatedMachine::LastError();
    std::shared_ptr<Snapshot> captured = CaptureSimulated();
    std::string text = SnapshotText(*captured);

    auto read = std::make_shared<Snapshot>();
    SnapshotProblem problem;
    ASSERT_EQ(1, SnapshotReader::Read(text.data(), text.size(), *read, problem))
        << "problem " << problem.kind << " at " << std::string(problem.where.begin(), problem.where.end());
    SnapshotBinding binding;
    DWORD error = 0;
    ASSERT_EQ(1, binding.Serve(read, &error)) << error;
    {
        DeviceTree shown;
        shown.Api().UseBinding(&binding);
        shown.Start();
        std::string fromSnapshot = ShownMachine(shown);
        EXPECT_EQ("", FirstDifference(live, fromSnapshot)) << "shown from the snapshot";
    }
    EXPECT_EQ(0, binding.OpenSets());
    if (!throughSimulator)
        return;

    ScratchFile file(L".quillmere.json");
    ASSERT_TRUE(file.Write(text));
    SimulatedMachine simulated{std::wstring(file.Path())};
    std::string loaded = ShownLive();
    EXPECT_EQ("", FirstDifference(live, loaded)) << "the snapshot loaded by the simulator: "
                                                 << SimulatedMachine::LastError();
}

} // namespace

TEST(SnapshotRoundTrip, DefaultMachine)
{
    SimulatedMachine machine;
    ExpectRoundTrip(true);
}

// Every registry key costs Wine a few server round trips at each of the
// three readings; the simulator's reading of a snapshot is the default
// machine's part.
TEST(SnapshotRoundTrip, GeneratedMachineOf20000Devnodes)
{
    SimulatedMachine machine(ReferenceData::BesideExe(L"machine_20000.txt"));
    ExpectRoundTrip(false);
}
