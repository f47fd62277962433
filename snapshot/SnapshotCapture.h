#pragma once

#include "devices/DeviceApi.h"
#include "snapshot/Snapshot.h"

// Reads a whole machine through a bound DeviceApi into a Snapshot: the
// devnode tree from the root, and for every device and every setup class
// what the viewer can show of it, each value exactly as delivered (the
// size the platform reports included, where it is another than the data's).
class SnapshotCapture {
public:
    // Replaces `snapshot`; 0 when the machine has no device tree to read.
    // Devices deeper than Snapshot::DeepestTree below the root and values
    // beyond Snapshot::LargestValue are left out, as no snapshot holds them.
    [[nodiscard]] static int Capture(const DeviceApi& api, const SnapshotHeader& header, Snapshot& snapshot);
};
