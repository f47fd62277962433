#pragma once

// A small snapshot made in code: three devices under a root, two setup
// classes (one with an icon), and a value of every form the format knows,
// a name that is no well-formed UTF-16 among them.

#include "snapshot/Snapshot.h"

#include <string>

Snapshot SampleSnapshot();
// Its JSON text.
std::string SampleText();
