#include <gtest/gtest.h>

#include <string>

#include "report/ReporterThread.h"

namespace {

// What the thread did, in order; `done` is set after the work.
struct Journal {
    std::string steps;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Journal() { CloseHandle(done); }
};

void Prepare(void* journal) { static_cast<Journal*>(journal)->steps += "prepare "; }
void Work(void* journal)
{
    static_cast<Journal*>(journal)->steps += "work ";
    SetEvent(static_cast<Journal*>(journal)->done);
}

// The thread is never ended: like the program's reporter, it lives as long
// as the process, so each case keeps its own.
TEST(ReporterThread, PreparesOnlyWhenToldOrAskedOrAfterItsDelayAndAlwaysBeforeWork)
{
    const DWORD Delay = 60000;
    // A request before preparing: prepared first, then served at once.
    static Journal asked;
    static ReporterThread early;
    ASSERT_TRUE(early.Start(Prepare, Work, nullptr, &asked, Delay));
    Sleep(100);
    EXPECT_EQ("", asked.steps) << "nothing before the program has started";
    ASSERT_TRUE(early.Request());
    ASSERT_EQ(early.Signalled, early.WaitFor(asked.done, 10000));
    EXPECT_EQ("prepare work ", asked.steps);

    // Told that the program has started: prepared without any request.
    static Journal told;
    static ReporterThread started;
    ASSERT_TRUE(started.Start(Prepare, Work, nullptr, &told, Delay));
    started.PrepareNow();
    for (int i = 0; i < 200 && told.steps.empty(); ++i)
        Sleep(10);
    EXPECT_EQ("prepare ", told.steps);

    // Never told: prepared once the delay has passed.
    static Journal waited;
    static ReporterThread late;
    ASSERT_TRUE(late.Start(Prepare, Work, nullptr, &waited, 300));
    for (int i = 0; i < 300 && waited.steps.empty(); ++i)
        Sleep(10);
    EXPECT_EQ("prepare ", waited.steps);
}

} // namespace
