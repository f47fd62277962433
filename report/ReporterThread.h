#pragma once

#include <windows.h>

#include "report/FaultGuard.h"

// The thread that writes crash reports and offers them. It starts with the
// program, with a stack of its own, makes itself ready once (`prepare`) and
// then waits. Making ready waits until the program says it has started
// (PrepareNow), a request arrives or `prepareDelay` ms have passed, so that
// it does not compete with the program's own start. A crashing thread hands
// it a request and waits for it without dispatching any message, so none of
// the program's windows runs again while a report is written and offered.
// While it waits for requests it runs `idle` every IdleInterval. Its guard
// (FaultGuard) is bound to it.
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
    [[nodiscard]] int Start(Routine prepare, Routine work, Routine idle, void* context,
                            DWORD prepareDelay = 0);
    // Lets the thread make itself ready now, if it has not yet.
    void PrepareNow();
    bool IsCurrent() const { return id_ != 0 && GetCurrentThreadId() == id_; }
    // Started, and not ended.
    bool IsRunning() const { return thread_ && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return thread_; }

    // Hands the thread one request (it runs `work` once). 0 when the thread
    // does not run, or still works on an earlier request.
    [[nodiscard]] int Request();
    // Waits for `event` without dispatching messages, at most `timeout` ms;
    // ends early when the thread ends.
    WaitResult WaitFor(HANDLE event, DWORD timeout) const;

    // Ends a part of the report that faults on this thread.
    FaultGuard& Guard() { return guard_; }

private:
    static DWORD WINAPI Main(void* self);

    HANDLE thread_ = nullptr;
    DWORD id_ = 0;
    HANDLE request_ = nullptr;
    HANDLE prepareNow_ = nullptr;
    DWORD prepareDelay_ = 0;
    volatile LONG busy_ = 0;
    Routine prepare_ = nullptr;
    Routine work_ = nullptr;
    Routine idle_ = nullptr;
    void* context_ = nullptr;
    FaultGuard guard_;
};
