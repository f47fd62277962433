#include <windows.h>

#include "app/Deployment.h"
#include "app/MainWindow.h"
#include "report/CrashReporter.h"
#include "resources/resource.h"
#include "update/UpdateRecovery.h"
#include "update/UpdateSignature.h"

// Quillmere runs its one window and returns the dialog's result (1 after
// Exit, 0 after Escape or the close box). Its only argument, when it is
// given one, is a snapshot to show.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // A crash from here on is offered like any other, the start-up
    // recovery's included; the main window configures the same again.
    CrashReporter::Current().ConfigureReporter(IDI_PROGRAM,
                                               UpdateAcceptsTestKeys ? Deployment::TestReportHost
                                                                     : Deployment::ReportHost,
                                               Deployment::ReportPath, nullptr, nullptr);
    // An update that was cut short is finished or undone before anything
    // of the program runs; when that replaced this very program, the
    // folder's program runs instead.
    if (!RecoverAtStart())
        return 0;
    MainWindow::Current().UseCommandLine(GetCommandLineW());
    return (int)MainWindow::Current().Run(instance, IDD_MAIN, 0, nullptr);
}
