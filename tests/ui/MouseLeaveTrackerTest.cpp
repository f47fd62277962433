#include <gtest/gtest.h>

#include "ControlHost.h"
#include "ui/MouseLeaveTracker.h"

namespace {

// Counts the WM_MOUSELEAVE messages the host receives within `milliseconds`.
int LeavesWithin(ControlHost& host, DWORD milliseconds)
{
    int leaves = 0;
    host.SetHandler([&leaves](UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_MOUSELEAVE)
            ++leaves;
        return 0;
    });
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        ControlHost::Pump();
        Sleep(10);
    }
    host.SetHandler(nullptr);
    return leaves;
}

void LeavesOnceWhenTheCursorGoes(bool pollOnly)
{
    ControlHost host(200, 150);
    RECT window;
    GetWindowRect(host.Window(), &window);
    SetCursorPos(window.left + 100, window.top + 75);
    ControlHost::Pump();

    MouseLeaveTracker tracker(pollOnly);
    ASSERT_EQ(1, tracker.Start(host.Window()));
    EXPECT_EQ(pollOnly, tracker.IsPolling());
    EXPECT_EQ(0, LeavesWithin(host, 300)) << "the cursor is still inside";

    SetCursorPos(window.right + 50, window.bottom + 50);
    EXPECT_EQ(1, LeavesWithin(host, 500));
    tracker.Stop();
    EXPECT_FALSE(tracker.IsTracking());
    EXPECT_EQ(0, LeavesWithin(host, 300)) << "one leave per start";
}

} // namespace

TEST(MouseLeaveTracker, TrackMouseEventReportsTheLeave)
{
    LeavesOnceWhenTheCursorGoes(false);
}

TEST(MouseLeaveTracker, PollingReportsTheLeaveWithoutTrackMouseEvent)
{
    LeavesOnceWhenTheCursorGoes(true);
}

TEST(MouseLeaveTracker, StoppingBeforeTheLeaveReportsNothing)
{
    ControlHost host(200, 150);
    RECT window;
    GetWindowRect(host.Window(), &window);
    SetCursorPos(window.left + 100, window.top + 75);
    MouseLeaveTracker tracker(true);
    ASSERT_EQ(1, tracker.Start(host.Window()));
    tracker.Stop();
    SetCursorPos(window.right + 50, window.bottom + 50);
    EXPECT_EQ(0, LeavesWithin(host, 300));
}
