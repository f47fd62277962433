// The start-up recovery of an update, crashing: linked with the program's
// own entry point (app/WinMain.cpp) into recoverycrash.exe, for the test
// that a crash before the main window is offered like any other.
#include "report/CrashReporter.h"
#include "update/UpdateRecovery.h"

// Reading this build's debug information makes a capture slow on a loaded
// machine: longer waits than the program's own, set before the entry point.
[[maybe_unused]] static const bool PatientReporter =
    (CrashReporter::Current().UseCaptureTimeout(60000),
     CrashReporter::Current().UseStepPatience(60000), true);

int RecoverAtStart()
{
    volatile int* volatile target = (volatile int*)0x10;
    *target = 1;
    return 1;
}

// The rest of the update's start-up part, so that the program's own is not
// linked beside this one; the main window never comes this far.
void ConfirmProgramRuns()
{
}
