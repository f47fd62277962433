#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Machine.h"

// The state one loaded copy of the simulator DLL shares between its entry
// points: the current machine, the open device information sets and machine
// connections, the call counters. Every entry point holds a ScopedCall for
// its whole run, so the state is only ever touched under the one lock.

class ScopedCall {
public:
    explicit ScopedCall(Entry entry);
    ~ScopedCall();
    ScopedCall(const ScopedCall&) = delete;
    ScopedCall& operator=(const ScopedCall&) = delete;
};

// A device information set: the devices of a snapshot of the machine. Sets
// keep their machine alive, so a reload never pulls the data from under one.
struct DeviceSet {
    std::shared_ptr<Machine> machine;
    std::vector<int> devices; // indexes into the machine's devices
    // Position of the device in the set, -1 if it is not in it.
    int Find(int deviceIndex) const;
};

namespace Simulator {

// The machine, loaded on first use; null when the file is missing or broken.
Machine* CurrentMachine();
std::shared_ptr<Machine> CurrentMachineShared();
// Reloads first when the machine file's path or content changed.
Machine* RefreshedMachine();
const char* LastError();

// Failure injection: the entry point fails for every argument, for this
// device, or for this class.
bool Fails(const Machine& machine, Entry entry);
bool Fails(const Machine& machine, Entry entry, const Device* device);
bool Fails(const Machine& machine, Entry entry, const SetupClass* setupClass);

DeviceSet* NewSet(const std::shared_ptr<Machine>& machine);
DeviceSet* LiveSet(void* handle); // null unless the handle is an open set
void DestroySet(DeviceSet* set);
int OpenSetCount();

// Machine connections of CM_Connect_MachineW; 0 stands for the local machine.
ULONG_PTR NewConnection();
bool IsConnection(ULONG_PTR handle); // 0 counts as the local machine
void CloseConnection(ULONG_PTR handle);

long Calls(const char* name);
void ResetCalls();

// Real registry keys behind the machine, written on first open. The key is
// opened with `access`; null when the device or class has no such key.
HKEY OpenDeviceKey(Machine& machine, int deviceIndex, bool software, REGSAM access);
HKEY OpenClassKey(Machine& machine, int classIndex, bool interfaceKey, REGSAM access);

// A new icon of a class that has one, for a caller that destroys it, as
// Windows hands out on every call; null with the error in `error` once the
// icons handed out and still alive reach the machine's quota.
HICON NewClassIcon(const Machine& machine, const SetupClass& setupClass, DWORD& error);
// Icons handed out and not yet destroyed.
int IconsAlive();

void OnProcessAttach(HMODULE module);
void OnProcessDetach(bool processEnding);

} // namespace Simulator
