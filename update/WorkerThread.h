#pragma once

#include <windows.h>

// One routine run on a thread of its own. The owner waits for it while it
// keeps dispatching its own thread's messages, so a routine that sends a
// message to one of the owner's windows is answered instead of blocking.
// What the thread writes (its result, its completion) lives in a record
// that the thread and this object share: an owner that cannot wait any
// longer lets go of a routine still running (Abandon, or destroying this
// object), and the thread frees the record when it ends.
class WorkerThread {
public:
    typedef DWORD (*Routine)(void* argument);

    WorkerThread() = default;
    // Never waits: a routine still running is abandoned.
    ~WorkerThread() { Abandon(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `routine` with `argument` on a new thread. 0 when a routine is
    // still running or the thread or its completion event cannot be made.
    [[nodiscard]] int Start(Routine routine, void* argument);

    // Waits until the routine has returned, at most `timeout` milliseconds,
    // dispatching posted and sent messages of the calling thread meanwhile.
    // 1 when the routine has returned (or none was started); 0 on time-out,
    // on a failed wait, or when a WM_QUIT arrived (it is posted again so the
    // caller's own loop still sees it).
    [[nodiscard]] int Wait(DWORD timeout = INFINITE);

    // Lets go of the routine: it runs on by itself (it must own whatever it
    // uses), and this object can start another one.
    void Abandon();

    bool IsRunning() const;
    // What the last routine returned; 0 until one has.
    DWORD Result() const;
    HANDLE CompletionEvent() const;

private:
    struct State;
    static DWORD WINAPI ThreadProcedure(void* state);
    static void Release(State* state);
    int DispatchPending();

    State* state_ = nullptr;
};
