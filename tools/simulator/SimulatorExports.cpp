// The test hooks and the DLL's entry point. The product never binds the
// hooks; tests reach them with GetProcAddress like every other name.

#include <windows.h>

#include "Simulator.h"

extern "C" {

// How often the named entry point ran since the last SimulatorResetCalls.
long WINAPI SimulatorCalls(const char* name)
{
    ScopedCall call(Entry::SimulatorCalls);
    return Simulator::Calls(name);
}

void WINAPI SimulatorResetCalls(void)
{
    ScopedCall call(Entry::SimulatorResetCalls);
    Simulator::ResetCalls();
}

// Device information sets created and not yet destroyed.
int WINAPI SimulatorOpenSets(void)
{
    ScopedCall call(Entry::SimulatorOpenSets);
    return Simulator::OpenSetCount();
}

// Class icons handed out and not yet destroyed by their callers.
int WINAPI SimulatorIconsAlive(void)
{
    ScopedCall call(Entry::SimulatorIconsAlive);
    return Simulator::IconsAlive();
}

// Why the machine file could not be loaded; empty while a machine is loaded.
const char* WINAPI SimulatorLastError(void)
{
    ScopedCall call(Entry::SimulatorLastError);
    Simulator::CurrentMachine();
    return Simulator::LastError();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        Simulator::OnProcessAttach(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        Simulator::OnProcessDetach(reserved != nullptr);
    }
    return TRUE;
}

} // extern "C"
