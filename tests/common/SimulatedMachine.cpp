#include "common/SimulatedMachine.h"

#include <stdio.h>

namespace {

FARPROC SimulatorExport(const char* name)
{
    HMODULE simulator = GetModuleHandleW(L"setupapi.dll");
    return simulator ? GetProcAddress(simulator, name) : nullptr;
}

} // namespace

SimulatedMachine::SimulatedMachine(const char* text)
{
    if (!text) {
        SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
        return;
    }
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"qsm", 0, file);
    path_ = file;
    owned_ = true;
    Rewrite(text);
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", path_.c_str());
}

SimulatedMachine::SimulatedMachine(const std::wstring& existingFile) : path_(existingFile)
{
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", path_.c_str());
}

SimulatedMachine::~SimulatedMachine()
{
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
    if (owned_)
        DeleteFileW(path_.c_str());
}

void SimulatedMachine::Rewrite(const char* text)
{
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, nullptr);
    // Make sure a rewrite within the same timer tick still looks changed.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    static ULONGLONG bump = 0;
    ULARGE_INTEGER stamp;
    stamp.LowPart = now.dwLowDateTime;
    stamp.HighPart = now.dwHighDateTime;
    stamp.QuadPart += (++bump) * 10000000ULL;
    now.dwLowDateTime = stamp.LowPart;
    now.dwHighDateTime = stamp.HighPart;
    SetFileTime(file, nullptr, nullptr, &now);
    CloseHandle(file);
}

int SimulatedMachine::Calls(const char* entryPoint)
{
    typedef int(WINAPI * CallsProc)(const char*);
    CallsProc calls = (CallsProc)SimulatorExport("SimulatorCalls");
    return calls ? calls(entryPoint) : -1;
}

void SimulatedMachine::ResetCalls()
{
    typedef void(WINAPI * ResetProc)();
    ResetProc reset = (ResetProc)SimulatorExport("SimulatorResetCalls");
    if (reset)
        reset();
}

int SimulatedMachine::OpenSets()
{
    typedef int(WINAPI * OpenSetsProc)();
    OpenSetsProc sets = (OpenSetsProc)SimulatorExport("SimulatorOpenSets");
    return sets ? sets() : -1;
}

int SimulatedMachine::IconsAlive()
{
    typedef int(WINAPI * IconsAliveProc)();
    IconsAliveProc icons = (IconsAliveProc)SimulatorExport("SimulatorIconsAlive");
    return icons ? icons() : -1;
}

const char* SimulatedMachine::LastError()
{
    typedef const char*(WINAPI * ErrorProc)();
    ErrorProc error = (ErrorProc)SimulatorExport("SimulatorLastError");
    return error ? error() : "";
}
