#include "update/UpdateSteps.h"

#include <stdarg.h>

#include "services/WideString.h"

namespace {

UpdateStepWatcher Watcher = nullptr;
void* WatcherData = nullptr;

} // namespace

void WatchUpdateSteps(UpdateStepWatcher watcher, void* data)
{
    Watcher = watcher;
    WatcherData = data;
}

void UpdateStep(const wchar_t* format, ...)
{
    if (!Watcher)
        return;
    WideString step;
    va_list arguments;
    va_start(arguments, format);
    step.FormatV(format, arguments);
    va_end(arguments);
    Watcher(step.Text(), WatcherData);
}
