#pragma once

#include <string>

#include "snapshot/Snapshot.h"

// The JSON text of a snapshot (UTF-8, docs/snapshot-format.md): one member
// per line down to the values, each value on a line of its own, so that a
// person can read it and two snapshots can be compared line by line.
class SnapshotWriter {
public:
    // Replaces `out`; 0 when memory runs out.
    [[nodiscard]] static int Write(const Snapshot& snapshot, std::string& out);
};
