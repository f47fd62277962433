#include <windows.h>

#include "app/MainWindow.h"
#include "resources/resource.h"

// Quillmere takes no arguments: it runs its one window and returns the
// dialog's result (1 after Exit, 0 after Escape or the close box).
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return (int)MainWindow::Current().Run(instance, IDD_MAIN, 0, nullptr);
}
