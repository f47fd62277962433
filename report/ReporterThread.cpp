#include "report/ReporterThread.h"

int ReporterThread::Start(Routine prepare, Routine work, Routine idle, void* context,
                          DWORD prepareDelay)
{
    if (thread_)
        return 0;
    prepare_ = prepare;
    work_ = work;
    idle_ = idle;
    context_ = context;
    prepareDelay_ = prepareDelay;
    request_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!request_)
        return 0;
    // Without its event the thread prepares at once, as if told to.
    prepareNow_ = prepareDelay ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
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
    thread->guard_.BindToCurrentThread();
    // A request that arrives first is served right after preparing.
    bool requested = false;
    DWORD waited = 0;
    while (thread->prepareNow_ && waited < thread->prepareDelay_) {
        HANDLE wake[2] = {thread->prepareNow_, thread->request_};
        DWORD slice = thread->prepareDelay_ - waited;
        if (slice > IdleInterval)
            slice = IdleInterval;
        DWORD woke = WaitForMultipleObjects(2, wake, FALSE, slice);
        if (woke != WAIT_TIMEOUT) {
            requested = woke == WAIT_OBJECT_0 + 1;
            break;
        }
        waited += slice;
        // The idle work does not wait for the preparation.
        if (thread->idle_)
            thread->idle_(thread->context_);
    }
    if (thread->prepare_)
        thread->prepare_(thread->context_);
    for (;;) {
        DWORD woke = requested ? WAIT_OBJECT_0 : WaitForSingleObject(thread->request_, IdleInterval);
        requested = false;
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

void ReporterThread::PrepareNow()
{
    if (prepareNow_)
        SetEvent(prepareNow_);
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
