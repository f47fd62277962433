#include "update/WorkerThread.h"

WorkerThread::~WorkerThread()
{
    if (!IsRunning())
        CloseHandles();
}

void WorkerThread::CloseHandles()
{
    if (thread_)
        CloseHandle(thread_);
    if (done_)
        CloseHandle(done_);
    thread_ = nullptr;
    done_ = nullptr;
}

int WorkerThread::Start(Routine routine, void* argument)
{
    if (IsRunning() || !routine)
        return 0;
    CloseHandles();
    // Manual reset, so every later wait sees the completion too.
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!done_)
        return 0;
    routine_ = routine;
    argument_ = argument;
    result_ = 0;
    InterlockedOr(&flags_, Running);
    thread_ = CreateThread(nullptr, 0, ThreadProcedure, this, 0, nullptr);
    if (!thread_) {
        InterlockedAnd(&flags_, ~Running);
        CloseHandles();
        return 0;
    }
    return 1;
}

DWORD WINAPI WorkerThread::ThreadProcedure(void* self)
{
    WorkerThread* worker = static_cast<WorkerThread*>(self);
    DWORD result = worker->routine_(worker->argument_);
    worker->result_ = result;
    // The flag is cleared before the event is set, so a waiter that wakes
    // up never sees the routine as running.
    InterlockedAnd(&worker->flags_, ~Running);
    SetEvent(worker->done_);
    return result;
}

int WorkerThread::DispatchPending()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage((int)message.wParam);
            return 0;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 1;
}

int WorkerThread::Wait(DWORD timeout)
{
    if (!done_)
        return 1;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeout != INFINITE) {
            DWORD elapsed = GetTickCount() - start;
            remaining = elapsed >= timeout ? 0 : timeout - elapsed;
        }
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &done_, remaining, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0)
            return 1;
        if (woke != WAIT_OBJECT_0 + 1)
            return 0;
        if (!DispatchPending())
            return 0;
    }
}
