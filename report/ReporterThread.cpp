#include "report/ReporterThread.h"

int ReporterThread::Start(Routine prepare, Routine work, Routine idle, void* context)
{
    if (thread_)
        return 0;
    prepare_ = prepare;
    work_ = work;
    idle_ = idle;
    context_ = context;
    request_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!request_)
        return 0;
    // Its own stack: the dialog, the machine identity and the upload never
    // run on the stack of a thread that overflowed.
    thread_ = CreateThread(nullptr, StackReserve, Main, this, STACK_SIZE_PARAM_IS_A_RESERVATION,
                           &id_);
    if (!thread_) {
        CloseHandle(request_);
        request_ = nullptr;
        id_ = 0;
        return 0;
    }
    return 1;
}

DWORD WINAPI ReporterThread::Main(void* self)
{
    ReporterThread* thread = static_cast<ReporterThread*>(self);
    if (thread->prepare_)
        thread->prepare_(thread->context_);
    for (;;) {
        DWORD woke = WaitForSingleObject(thread->request_, IdleInterval);
        if (woke == WAIT_OBJECT_0) {
            thread->work_(thread->context_);
            InterlockedExchange(&thread->busy_, 0);
        } else if (woke == WAIT_TIMEOUT) {
            if (thread->idle_)
                thread->idle_(thread->context_);
        } else {
            return 1;
        }
    }
}

int ReporterThread::Request()
{
    if (!IsRunning())
        return 0;
    if (InterlockedCompareExchange(&busy_, 1, 0) != 0)
        return 0;
    return SetEvent(request_) != 0;
}

ReporterThread::WaitResult ReporterThread::WaitFor(HANDLE event, DWORD timeout) const
{
    HANDLE handles[2] = {event, thread_};
    DWORD woke = WaitForMultipleObjects(thread_ ? 2 : 1, handles, FALSE, timeout);
    if (woke == WAIT_OBJECT_0)
        return Signalled;
    return woke == WAIT_TIMEOUT ? TimedOut : ThreadEnded;
}

#if defined(_MSC_VER)

int ReporterThread::RunGuarded(Routine part, void* context)
{
    __try {
        part(context);
        return 1;
    } __except (lastFault_ = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        return 0;
    }
}

int ReporterThread::RecoverFromFault(EXCEPTION_POINTERS*)
{
    return 0;
}

#else

namespace {

// x86 chains exception handlers through the stack, starting at FS:[0].
void* HandlerChain()
{
#if defined(__i386__)
    void* chain;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(chain));
    return chain;
#else
    return nullptr;
#endif
}

void RestoreHandlerChain(void* chain)
{
#if defined(__i386__)
    __asm__ volatile("movl %0, %%fs:0" : : "r"(chain) : "memory");
#else
    (void)chain;
#endif
}

} // namespace

// The context captured here is the one a fault of the part is continued
// in: the system restores every register from it, so the code after the
// capture runs a second time, with `resumed_` set. Nothing after the capture
// depends on what the part changed but that flag.
__attribute__((noinline)) int ReporterThread::RunGuarded(Routine part, void* context)
{
    if (!IsCurrent() || guarding_) {
        part(context);
        return 1;
    }
    handlerChain_ = HandlerChain();
    InterlockedExchange(&resumed_, 0);
    RtlCaptureContext(&resume_);
    if (resumed_) {
        // The dispatch left its own handler registrations (x86), in frames
        // that no longer exist.
        RestoreHandlerChain(handlerChain_);
        InterlockedExchange(&guarding_, 0);
        return 0;
    }
    InterlockedExchange(&guarding_, 1);
    part(context);
    InterlockedExchange(&guarding_, 0);
    return 1;
}

int ReporterThread::RecoverFromFault(EXCEPTION_POINTERS* exception)
{
    if (!IsGuarding() || !exception || !exception->ContextRecord)
        return 0;
    lastFault_ = exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : 0;
    InterlockedExchange(&resumed_, 1);
    *exception->ContextRecord = resume_;
    return 1;
}

#endif
