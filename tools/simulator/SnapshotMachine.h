#pragma once

#include <memory>
#include <string>

#include "Machine.h"

// Whether a machine file's text is a snapshot (JSON) rather than the
// simulator's own statements: its first character other than blanks and a
// byte-order mark opens an object.
bool LooksLikeSnapshot(const char* text, size_t size);

// A snapshot saved by Quillmere as a simulated machine: read by the
// product's own reader, so that a snapshot of a real Windows machine is a
// test machine. What the machine file cannot say otherwise (a device whose
// status, instance ID or class name could not be read, a device in no
// device information set) becomes a failure of that entry point for that
// device or class. Returns nullptr with `error` set as ParseMachine does.
std::shared_ptr<Machine> MachineFromSnapshot(const char* text, size_t size, const std::wstring& path,
                                             std::string& error);
