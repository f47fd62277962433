// The start-up recovery of an update, crashing: linked with the program's
// own entry point (app/WinMain.cpp) into recoverycrash.exe, for the test
// that a crash before the main window is offered like any other.
#include "update/UpdateRecovery.h"

int RecoverAtStart()
{
    volatile int* volatile target = (volatile int*)0x10;
    *target = 1;
    return 1;
}
