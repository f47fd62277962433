#include <gtest/gtest.h>

#include "ControlHost.h"
#include "ui/MouseLeaveTracker.h"

namespace {

// Counts the WM_MOUSELEAVE messages its host receives while it lives.
class LeaveCounter {
public:
    explicit LeaveCounter(ControlHost& host) : host_(host)
    {
        host_.SetHandler([this](UINT message, WPARAM, LPARAM, LRESULT*) {
            if (message == WM_MOUSELEAVE)
                ++leaves_;
            return 0;
        });
    }
    ~LeaveCounter() { host_.SetHandler(nullptr); }
    int Leaves() const { return leaves_; }

    // Pumps until `leaves` have come (a bound for a failing run only);
    // returns how long it took, or -1.
    int WaitFor(int leaves)
    {
        DWORD start = GetTickCount();
        while (leaves_ < leaves) {
            if (GetTickCount() - start > 30000)
                return -1;
            ControlHost::Pump();
            Sleep(5);
        }
        return (int)(GetTickCount() - start);
    }

    // Pumps for `milliseconds`, in which nothing is expected to come.
    void Hold(DWORD milliseconds)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < milliseconds) {
            ControlHost::Pump();
            Sleep(5);
        }
    }

private:
    ControlHost& host_;
    int leaves_ = 0;
};

// A quiet period that would have shown a leave: several times as long as
// the leave that was seen took to come.
DWORD QuietAfter(int latency)
{
    return (DWORD)(latency < 100 ? 300 : 3 * latency);
}

void LeavesOnceWhenTheCursorGoes(bool pollOnly)
{
    ControlHost host(200, 150);
    RECT window;
    GetWindowRect(host.Window(), &window);
    LeaveCounter counter(host);
    MouseLeaveTracker tracker(pollOnly);

    // First the leave itself, which shows how soon one comes here.
    SetCursorPos(window.left + 100, window.top + 75);
    ControlHost::Pump();
    ASSERT_EQ(1, tracker.Start(host.Window()));
    EXPECT_EQ(pollOnly, tracker.IsPolling());
    SetCursorPos(window.right + 50, window.bottom + 50);
    int latency = counter.WaitFor(1);
    ASSERT_GE(latency, 0) << "no leave came";
    counter.Hold(QuietAfter(latency));
    EXPECT_EQ(1, counter.Leaves()) << "one leave per start";
    tracker.Stop();
    EXPECT_FALSE(tracker.IsTracking());

    // Started again with the cursor inside: nothing until it goes.
    SetCursorPos(window.left + 100, window.top + 75);
    ControlHost::Pump();
    ASSERT_EQ(1, tracker.Start(host.Window()));
    counter.Hold(QuietAfter(latency));
    EXPECT_EQ(1, counter.Leaves()) << "the cursor is still inside";
    SetCursorPos(window.right + 50, window.bottom + 50);
    EXPECT_GE(counter.WaitFor(2), 0);
    tracker.Stop();
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
    LeaveCounter counter(host);
    // A tracker that runs over the same moves shows how soon a leave comes.
    SetCursorPos(window.left + 100, window.top + 75);
    ControlHost::Pump();
    MouseLeaveTracker control(true);
    ASSERT_EQ(1, control.Start(host.Window()));
    SetCursorPos(window.right + 50, window.bottom + 50);
    int latency = counter.WaitFor(1);
    ASSERT_GE(latency, 0) << "the running tracker reported no leave";
    control.Stop();

    SetCursorPos(window.left + 100, window.top + 75);
    ControlHost::Pump();
    MouseLeaveTracker tracker(true);
    ASSERT_EQ(1, tracker.Start(host.Window()));
    tracker.Stop();
    SetCursorPos(window.right + 50, window.bottom + 50);
    counter.Hold(QuietAfter(latency));
    EXPECT_EQ(1, counter.Leaves()) << "the stopped tracker reported a leave";
}
