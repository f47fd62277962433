#include <gtest/gtest.h>

#include "update/WorkerThread.h"

namespace {

DWORD ReturnArgument(void* argument)
{
    return (DWORD)(UINT_PTR)argument;
}

DWORD WaitForEvent(void* argument)
{
    WaitForSingleObject((HANDLE)argument, INFINITE);
    return 7;
}

// Asks the window on the waiting thread, as the update check asks its owner.
DWORD AskWindow(void* argument)
{
    return (DWORD)SendMessageW((HWND)argument, WM_APP, 20, 22);
}

LRESULT CALLBACK AnsweringProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        return wParam + lParam;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateAnsweringWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = AnsweringProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"WorkerThreadTestWindow";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                           nullptr, windowClass.hInstance, nullptr);
}

} // namespace

TEST(WorkerThread, RunsOneRoutineAtATimeAndKeepsItsResult)
{
    WorkerThread worker;
    EXPECT_EQ(1, worker.Wait(0)) << "nothing started, nothing to wait for";
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(1, worker.Start(WaitForEvent, release));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(0, worker.Start(ReturnArgument, (void*)1)) << "a second routine while one runs";
    EXPECT_EQ(0, worker.Wait(50)) << "the wait is bounded";
    EXPECT_TRUE(worker.IsRunning());
    SetEvent(release);
    ASSERT_EQ(1, worker.Wait(10000));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(7u, worker.Result());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.CompletionEvent(), 0));

    ASSERT_EQ(1, worker.Start(ReturnArgument, (void*)42)) << "a finished worker starts again";
    ASSERT_EQ(1, worker.Wait(10000));
    EXPECT_EQ(42u, worker.Result());
    CloseHandle(release);
}

TEST(WorkerThread, WaitingAnswersMessagesSentByTheRoutine)
{
    HWND window = CreateAnsweringWindow();
    ASSERT_NE(nullptr, window);
    WorkerThread worker;
    ASSERT_EQ(1, worker.Start(AskWindow, window));
    // A wait that did not dispatch would time out: the routine waits for
    // this thread to answer.
    ASSERT_EQ(1, worker.Wait(10000));
    EXPECT_EQ(42u, worker.Result());
    DestroyWindow(window);
}

TEST(WorkerThread, QuitEndsTheWaitAndIsPostedAgain)
{
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WorkerThread worker;
    ASSERT_EQ(1, worker.Start(WaitForEvent, release));
    PostQuitMessage(3);
    EXPECT_EQ(0, worker.Wait(10000));
    EXPECT_TRUE(worker.IsRunning());
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(3u, message.wParam);
    SetEvent(release);
    EXPECT_EQ(1, worker.Wait(10000));
    CloseHandle(release);
}
