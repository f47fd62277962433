#pragma once

#include <windows.h>

// Runs parts of a crash report on one thread so that a fault in a part ends
// that part only. The exception filter asks RecoverFromFault, which turns
// the fault's context into the one the part started from; the thread then
// goes on after the part as if it had returned early. A guard belongs to the
// thread it is bound to; on any other thread a part simply runs.
class FaultGuard {
public:
    typedef void (*Routine)(void* context);

    FaultGuard() = default;
    FaultGuard(const FaultGuard&) = delete;
    FaultGuard& operator=(const FaultGuard&) = delete;

    // The calling thread is the one guarded from now on.
    void BindToCurrentThread() { threadId_ = GetCurrentThreadId(); }
    bool IsCurrent() const { return threadId_ != 0 && GetCurrentThreadId() == threadId_; }

    // Runs `part`; 0 when it faulted and was ended there.
    [[nodiscard]] int RunGuarded(Routine part, void* context);
    // From the exception filter: 1 when a guarded part runs on this thread,
    // whose end `exception` now leads to (the filter then answers
    // EXCEPTION_CONTINUE_EXECUTION); 0 otherwise.
    [[nodiscard]] int RecoverFromFault(EXCEPTION_POINTERS* exception);
    // A guarded part runs on the calling thread.
    bool IsGuarding() const { return IsCurrent() && guarding_; }
    // The exception that ended the last guarded part that faulted.
    DWORD LastFault() const { return lastFault_; }

private:
    volatile DWORD threadId_ = 0;
    // Where a faulting part resumes: every register as it was when the part
    // began, and on x86 the handler chain of that moment.
    CONTEXT resume_;
    void* handlerChain_ = nullptr;
    volatile LONG guarding_ = 0;
    volatile LONG resumed_ = 0;
    volatile DWORD lastFault_ = 0;
};
