#pragma once

#include <windows.h>

#include <string>

#include "Machine.h"

// The real registry keys that stand for the simulated machine's keys, below
// HKEY_CURRENT_USER\Software\Tollbrook\QuillmereSimulator. Every loaded
// machine gets a sub-tree of its own, named "<process id>.<module>.<load>",
// so several copies of the simulator (the variants, other processes) never
// write into each other's keys.
namespace MachineRegistry {

extern const wchar_t* const RootPath;

// The sub-tree path for one load of a machine by this copy of the DLL.
std::wstring MachineTreePath(HMODULE module, unsigned loadNumber);
// Removes the sub-trees that belong to processes which have ended.
void RemoveStaleTrees();
// Creates the key at `path` with every key and value of `tree`; 1 on success.
int WriteTree(const std::wstring& path, const RegistryTree& tree);
void DeleteTree(const std::wstring& path);
// Notes in the sub-tree which machine file it comes from, for a human reader.
void LabelTree(const std::wstring& path, const std::wstring& machineFile);
HKEY Open(const std::wstring& path, REGSAM access);

} // namespace MachineRegistry
