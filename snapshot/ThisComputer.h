#pragma once

#include "snapshot/Snapshot.h"

// The header of a snapshot of the machine the program runs on: its name,
// Windows, processor, the time (UTC) and the program's version.
SnapshotHeader ThisComputerHeader();
// The computer's name as people know it (its DNS host name, else its
// NetBIOS name); empty when neither can be read.
std::wstring ThisComputerName();
