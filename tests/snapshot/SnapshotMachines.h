#pragma once

// What the snapshot tests share: the whole of what the viewer shows of a
// machine as one text, and a snapshot taken of the simulated machine.

#include "devices/DeviceTree.h"
#include "snapshot/Snapshot.h"

#include <memory>
#include <string>

// The unfiltered tree and, for every `step`-th device in depth-first
// order, the property list, as the reference texts spell them.
std::string ShownMachine(DeviceTree& model, size_t step = 1);

// A snapshot of the machine the simulator serves now, with a fixed header.
std::shared_ptr<Snapshot> CaptureSimulated();
// Its JSON text.
std::string SnapshotText(const Snapshot& snapshot);

// Where two texts part, for a failure message; empty when they are equal.
std::string FirstDifference(const std::string& expected, const std::string& actual);
