#pragma once

#include <windows.h>

// Initialises COM for the calling thread: CoInitializeEx with `flags` plus
// COINIT_DISABLE_OLE1DDE, or CoInitialize where CoInitializeEx is missing or
// refuses for any reason but an apartment of another kind (RPC_E_CHANGED_MODE).
// Returns the result of the last call; only a successful result (S_OK or
// S_FALSE) obliges the caller to call CoUninitialize.
HRESULT InitializeCom(DWORD flags);
