#pragma once

#include <windows.h>
#include <shobjidl.h>

// The progress of a download on the taskbar button of a window, through
// the shell's ITaskbarList3 (Windows 7 on; elsewhere nothing shows). Used
// on the window's own thread, where the shell object lives.
class TaskbarProgress {
public:
    TaskbarProgress() = default;
    ~TaskbarProgress() { End(); }
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    // Shows `permille` (0 to 1000) on the button of `window`.
    void Show(HWND window, int permille);
    // Takes the progress off the button.
    void End();

private:
    int Begin(HWND window);

    ITaskbarList3* list_ = nullptr;
    HWND window_ = nullptr;
    bool comStarted_ = false;
    bool unavailable_ = false;
};
