#include "report/FaultGuard.h"

#if defined(_MSC_VER)

int FaultGuard::RunGuarded(Routine part, void* context)
{
    if (!IsCurrent() || guarding_) {
        part(context);
        return 1;
    }
    // The part is ended by the handler below, before any filter runs; the
    // flag still tells a failure without an exception to raise one.
    InterlockedExchange(&guarding_, 1);
    __try {
        part(context);
    } __except (lastFault_ = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        InterlockedExchange(&guarding_, 0);
        return 0;
    }
    InterlockedExchange(&guarding_, 0);
    return 1;
}

int FaultGuard::RecoverFromFault(EXCEPTION_POINTERS*)
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
__attribute__((noinline)) int FaultGuard::RunGuarded(Routine part, void* context)
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

int FaultGuard::RecoverFromFault(EXCEPTION_POINTERS* exception)
{
    if (!IsGuarding() || !exception || !exception->ContextRecord)
        return 0;
    lastFault_ = exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode : 0;
    InterlockedExchange(&resumed_, 1);
    *exception->ContextRecord = resume_;
    return 1;
}

#endif
