#include "update/WorkerThread.h"

#include <new>

struct WorkerThread::State {
    volatile LONG references = 1;
    volatile LONG running = 0;
    Routine routine = nullptr;
    void* argument = nullptr;
    volatile DWORD result = 0;
    // Manual reset, so every later wait sees the completion too.
    HANDLE done = nullptr;
    HANDLE thread = nullptr;
};

void WorkerThread::Release(State* state)
{
    if (!state || InterlockedDecrement(&state->references) != 0)
        return;
    if (state->thread)
        CloseHandle(state->thread);
    if (state->done)
        CloseHandle(state->done);
    delete state;
}

void WorkerThread::Abandon()
{
    Release(state_);
    state_ = nullptr;
}

bool WorkerThread::IsRunning() const
{
    return state_ && state_->running;
}

DWORD WorkerThread::Result() const
{
    return state_ ? state_->result : 0;
}

HANDLE WorkerThread::CompletionEvent() const
{
    return state_ ? state_->done : nullptr;
}

int WorkerThread::Start(Routine routine, void* argument)
{
    if (IsRunning() || !routine)
        return 0;
    Abandon();
    State* state = new (std::nothrow) State();
    if (!state)
        return 0;
    state->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!state->done) {
        Release(state);
        return 0;
    }
    state->routine = routine;
    state->argument = argument;
    state->running = 1;
    // One reference for this object, one for the thread.
    state->references = 2;
    state->thread = CreateThread(nullptr, 0, ThreadProcedure, state, 0, nullptr);
    if (!state->thread) {
        state->references = 1;
        state->running = 0;
        Release(state);
        return 0;
    }
    state_ = state;
    return 1;
}

DWORD WINAPI WorkerThread::ThreadProcedure(void* argument)
{
    State* state = static_cast<State*>(argument);
    DWORD result = state->routine(state->argument);
    state->result = result;
    // The flag is cleared before the event is set, so a waiter that wakes
    // up never sees the routine as running.
    InterlockedExchange(&state->running, 0);
    SetEvent(state->done);
    Release(state);
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
    if (!state_)
        return 1;
    // The record stays for the wait even if a message handler abandons it.
    State* state = state_;
    InterlockedIncrement(&state->references);
    DWORD start = GetTickCount();
    int result = 0;
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeout != INFINITE) {
            DWORD elapsed = GetTickCount() - start;
            remaining = elapsed >= timeout ? 0 : timeout - elapsed;
        }
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &state->done, remaining, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            result = 1;
            break;
        }
        if (woke != WAIT_OBJECT_0 + 1 || !DispatchPending())
            break;
    }
    Release(state);
    return result;
}
