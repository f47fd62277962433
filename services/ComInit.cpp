#include "services/ComInit.h"
#include "services/LibraryHolder.h"

#include <objbase.h>

namespace {

typedef HRESULT(WINAPI* CoInitializeExProc)(void*, DWORD);
typedef HRESULT(WINAPI* CoInitializeProc)(void*);

// Bound once per process; the worker threads of the update check initialise
// COM too, and a function-local static is initialised only once even then.
struct Ole32Binding {
    LibraryHolder library;
    CoInitializeExProc initializeEx = nullptr;
    CoInitializeProc initialize = nullptr;

    Ole32Binding()
    {
        if (library.Load(L"ole32.dll")) {
            initializeEx = (CoInitializeExProc)library.Lookup("CoInitializeEx");
            initialize = (CoInitializeProc)library.Lookup("CoInitialize");
        }
    }
};

Ole32Binding& Ole32()
{
    static Ole32Binding binding;
    return binding;
}

} // namespace

HRESULT InitializeCom(DWORD flags)
{
    Ole32Binding& ole32 = Ole32();
    HRESULT result = E_NOTIMPL;
    if (ole32.initializeEx) {
        result = ole32.initializeEx(nullptr, flags | COINIT_DISABLE_OLE1DDE);
        if (SUCCEEDED(result) || result == RPC_E_CHANGED_MODE)
            return result;
    }
    if (ole32.initialize)
        result = ole32.initialize(nullptr);
    return result;
}
