#pragma once

#include <windows.h>

// One routine run on a thread of its own. The owner waits for it while it
// keeps dispatching its own thread's messages, so a routine that sends a
// message to one of the owner's windows is answered instead of blocking.
// The object must outlive the thread: the thread writes its result and
// completion here after the routine returns.
class WorkerThread {
public:
    typedef DWORD (*Routine)(void* argument);

    // Bit of the flag word while the routine runs.
    static const LONG Running = 0x01;

    WorkerThread() = default;
    // Closes the handles of a finished thread; a thread still running keeps
    // them, since it signals its completion through them.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `routine` with `argument` on a new thread. 0 when a routine is
    // still running or the thread or its completion event cannot be made.
    int Start(Routine routine, void* argument);

    // Waits until the routine has returned, at most `timeout` milliseconds,
    // dispatching posted and sent messages of the calling thread meanwhile.
    // 1 when the routine has returned (or none was started); 0 on time-out,
    // on a failed wait, or when a WM_QUIT arrived (it is posted again so the
    // caller's own loop still sees it).
    int Wait(DWORD timeout = INFINITE);

    bool IsRunning() const { return (flags_ & Running) != 0; }
    // What the last routine returned; 0 until one has.
    DWORD Result() const { return result_; }
    HANDLE CompletionEvent() const { return done_; }

private:
    static DWORD WINAPI ThreadProcedure(void* self);
    int DispatchPending();
    void CloseHandles();

    HANDLE thread_ = nullptr;
    volatile LONG flags_ = 0;
    Routine routine_ = nullptr;
    void* argument_ = nullptr;
    volatile DWORD result_ = 0;
    HANDLE done_ = nullptr;
};
