#include <windows.h>

#include "app/MainWindow.h"
#include "resources/resource.h"
#include "update/UpdateRecovery.h"

// Quillmere runs its one window and returns the dialog's result (1 after
// Exit, 0 after Escape or the close box). Its only argument, when it is
// given one, is a snapshot to show.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // An update that was cut short is finished or undone before anything
    // of the program runs; when that replaced this very program, the
    // folder's program runs instead.
    if (!RecoverAtStart())
        return 0;
    MainWindow::Current().UseCommandLine(GetCommandLineW());
    return (int)MainWindow::Current().Run(instance, IDD_MAIN, 0, nullptr);
}
