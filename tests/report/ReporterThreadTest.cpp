#include <gtest/gtest.h>

#include <string>

#include "report/ReporterThread.h"

namespace {

// Waited for at most this long; the machine is shared and may be slow.
const DWORD Patience = 30000;

// What the thread did, in order, under a lock; each step also sets its
// event, which the test waits for.
class Journal {
public:
    Journal()
    {
        InitializeCriticalSection(&lock_);
        for (HANDLE& event : events_)
            event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Journal()
    {
        for (HANDLE event : events_)
            CloseHandle(event);
        DeleteCriticalSection(&lock_);
    }
    enum Step { Prepared, Worked, Idled };

    void Record(Step step, const char* word)
    {
        EnterCriticalSection(&lock_);
        // The idle routine runs every second; only its first run is kept.
        if (step != Idled || WaitForSingleObject(events_[Idled], 0) != WAIT_OBJECT_0)
            steps_ += word;
        LeaveCriticalSection(&lock_);
        SetEvent(events_[step]);
    }
    bool WaitFor(Step step) const { return WaitForSingleObject(events_[step], Patience) == WAIT_OBJECT_0; }
    std::string Steps()
    {
        EnterCriticalSection(&lock_);
        std::string copy = steps_;
        LeaveCriticalSection(&lock_);
        return copy;
    }

private:
    CRITICAL_SECTION lock_;
    HANDLE events_[3];
    std::string steps_;
};

void Prepare(void* journal) { static_cast<Journal*>(journal)->Record(Journal::Prepared, "prepare "); }
void Work(void* journal) { static_cast<Journal*>(journal)->Record(Journal::Worked, "work "); }
void Idle(void* journal) { static_cast<Journal*>(journal)->Record(Journal::Idled, "idle "); }

// The thread is never ended: like the program's reporter, it lives as long
// as the process, so each case keeps its own.
TEST(ReporterThread, PreparesOnlyWhenToldOrAskedOrAfterItsDelayAndAlwaysBeforeWork)
{
    const DWORD Delay = 600000;
    // Waiting for the program to start, it runs its idle work and nothing
    // else; a request then has it prepare first and serve it at once.
    static Journal asked;
    static ReporterThread early;
    ASSERT_EQ(1, early.Start(Prepare, Work, Idle, &asked, Delay));
    ASSERT_TRUE(asked.WaitFor(Journal::Idled));
    EXPECT_EQ("idle ", asked.Steps()) << "nothing before the program has started";
    ASSERT_EQ(1, early.Request());
    ASSERT_TRUE(asked.WaitFor(Journal::Worked));
    EXPECT_EQ("idle prepare work ", asked.Steps());

    // Told that the program has started: prepared without any request.
    static Journal told;
    static ReporterThread started;
    ASSERT_EQ(1, started.Start(Prepare, Work, nullptr, &told, Delay));
    started.PrepareNow();
    ASSERT_TRUE(told.WaitFor(Journal::Prepared));
    EXPECT_EQ("prepare ", told.Steps());

    // Never told: prepared once the delay has passed.
    static Journal waited;
    static ReporterThread late;
    ASSERT_EQ(1, late.Start(Prepare, Work, nullptr, &waited, 300));
    ASSERT_TRUE(waited.WaitFor(Journal::Prepared));
    EXPECT_EQ("prepare ", waited.Steps());
}

} // namespace
