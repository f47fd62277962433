#pragma once

#include <windows.h>

// Starts the program an update has just put in place and judges whether it
// came up, by what any program shows rather than by a signal of its own
// (a build that predates such a signal must count too): its process has
// become idle for input, shows a visible top-level window, and is still
// running a while later.
class ProgramStart {
public:
    enum Verdict {
        Running, // it came up and stayed
        Failed,  // it ended, or did not come up in time
        Stopped, // the wait was stopped before it had shown a window
    };

    ProgramStart() = default;
    ~ProgramStart();
    ProgramStart(const ProgramStart&) = delete;
    ProgramStart& operator=(const ProgramStart&) = delete;

    // Starts `program` in `directory` through the shell. 1 when a process
    // was started.
    int Launch(const wchar_t* program, const wchar_t* directory);

    // Waits at most `upTimeout` milliseconds until the program is idle for
    // input and shows a window, then watches it for `steadyTime` more. When
    // `stop` becomes non-zero the wait ends early: Running if the window
    // was seen already, else Stopped.
    Verdict WaitUntilUp(DWORD upTimeout, DWORD steadyTime, const volatile LONG* stop);

    // Ends the process if it still runs, so that its files can be moved
    // back, and waits a moment for it to be gone.
    void Terminate();

    DWORD ProcessId() const { return processId_; }

private:
    bool HasEnded() const;
    bool ShowsWindow() const;

    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};
