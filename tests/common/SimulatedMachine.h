#pragma once

#include <windows.h>

#include <string>

// A machine description for the device simulator (bin/setupapi.dll), written
// to a temporary file and selected for this process until the object goes
// away. With no text the default machine beside the simulator is used.
class SimulatedMachine {
public:
    explicit SimulatedMachine(const char* text = nullptr);
    // Selects an existing machine file (a full path), which is left alone.
    explicit SimulatedMachine(const std::wstring& existingFile);
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    // Rewrites the description; the simulator picks it up at the next
    // enumeration.
    void Rewrite(const char* text);
    const std::wstring& Path() const { return path_; }

    // The simulator's own test hooks (never used by the product).
    static int Calls(const char* entryPoint);
    static void ResetCalls();
    static int OpenSets();
    static int IconsAlive();
    static const char* LastError();

private:
    std::wstring path_;
    bool owned_ = false;
};
