#pragma once

#include <windows.h>

// The thread that writes crash reports and offers them. It starts with the
// program, with a stack of its own, makes itself ready once (`prepare`) and
// then waits; a crashing thread hands it a request and waits for it without
// dispatching any message, so none of the program's windows runs again while
// a report is written and offered. While it waits for requests it runs
// `idle` every IdleInterval.
//
// A fault on this thread inside a guarded part ends that part only: the
// exception filter calls RecoverFromFault, which turns the fault's context
// into the one the part started from, and the thread goes on after the part
// as if it had returned early.
class ReporterThread {
public:
    typedef void (*Routine)(void* context);
    static const SIZE_T StackReserve = 1024 * 1024;
    static const DWORD IdleInterval = 1000;

    enum WaitResult { Signalled, TimedOut, ThreadEnded };

    ReporterThread() = default;
    ReporterThread(const ReporterThread&) = delete;
    ReporterThread& operator=(const ReporterThread&) = delete;

    // 0 when the thread cannot be started.
    int Start(Routine prepare, Routine work, Routine idle, void* context);
    bool IsCurrent() const { return id_ != 0 && GetCurrentThreadId() == id_; }
    // Started, and not ended.
    bool IsRunning() const { return thread_ && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT; }
    DWORD Id() const { return id_; }

    // Hands the thread one request (it runs `work` once). 0 when the thread
    // does not run, or still works on an earlier request.
    int Request();
    // Waits for `event` without dispatching messages, at most `timeout` ms;
    // ends early when the thread ends.
    WaitResult WaitFor(HANDLE event, DWORD timeout) const;

    // On this thread: runs `part`; 0 when it faulted and was ended there.
    int RunGuarded(Routine part, void* context);
    // From the exception filter on this thread: 1 when a guarded part runs,
    // whose end `exception` now leads to (the filter then answers
    // EXCEPTION_CONTINUE_EXECUTION); 0 otherwise.
    int RecoverFromFault(EXCEPTION_POINTERS* exception);
    // A guarded part runs on the calling thread.
    bool IsGuarding() const { return IsCurrent() && guarding_; }
    // The exception that ended the last guarded part that faulted.
    DWORD LastFault() const { return lastFault_; }

private:
    static DWORD WINAPI Main(void* self);

    HANDLE thread_ = nullptr;
    DWORD id_ = 0;
    HANDLE request_ = nullptr;
    volatile LONG busy_ = 0;
    Routine prepare_ = nullptr;
    Routine work_ = nullptr;
    Routine idle_ = nullptr;
    void* context_ = nullptr;

    // Where a faulting guarded part resumes: every register as it was when
    // the part began, and on x86 the handler chain of that moment.
    CONTEXT resume_;
    void* handlerChain_ = nullptr;
    volatile LONG guarding_ = 0;
    volatile LONG resumed_ = 0;
    volatile DWORD lastFault_ = 0;
};
