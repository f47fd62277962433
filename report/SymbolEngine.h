#pragma once

#include <windows.h>
#include <dbghelp.h>

#include "services/LibraryHolder.h"

// DbgHelp's entry points as the crash report uses them, bound at run time.
struct DbgHelpApi {
    typedef BOOL(WINAPI* MiniDumpWriteDumpProc)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                PMINIDUMP_EXCEPTION_INFORMATION,
                                                PMINIDUMP_USER_STREAM_INFORMATION,
                                                PMINIDUMP_CALLBACK_INFORMATION);
    typedef BOOL(WINAPI* SymInitializeProc)(HANDLE, PCSTR, BOOL);
    typedef DWORD(WINAPI* SymSetOptionsProc)(DWORD);
    typedef BOOL(WINAPI* SymGetSymFromAddr64Proc)(HANDLE, DWORD64, PDWORD64, PIMAGEHLP_SYMBOL64);
    typedef BOOL(WINAPI* SymFromAddrProc)(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFO);
    typedef BOOL(WINAPI* SymGetModuleInfo64Proc)(HANDLE, DWORD64, PIMAGEHLP_MODULE64);
    typedef BOOL(WINAPI* StackWalk64Proc)(DWORD, HANDLE, HANDLE, LPSTACKFRAME64, PVOID,
                                          PREAD_PROCESS_MEMORY_ROUTINE64,
                                          PFUNCTION_TABLE_ACCESS_ROUTINE64,
                                          PGET_MODULE_BASE_ROUTINE64, PTRANSLATE_ADDRESS_ROUTINE64);
    typedef BOOL(WINAPI* SymGetLineFromAddr64Proc)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINE64);
    typedef BOOL(WINAPI* SymCleanupProc)(HANDLE);

    MiniDumpWriteDumpProc miniDumpWriteDump;
    SymInitializeProc symInitialize;
    SymSetOptionsProc symSetOptions;
    SymGetSymFromAddr64Proc symGetSymFromAddr64;
    SymFromAddrProc symFromAddr;
    SymGetModuleInfo64Proc symGetModuleInfo64;
    StackWalk64Proc stackWalk64;
    PFUNCTION_TABLE_ACCESS_ROUTINE64 symFunctionTableAccess64;
    PGET_MODULE_BASE_ROUTINE64 symGetModuleBase64;
    SymGetLineFromAddr64Proc symGetLineFromAddr64;
    // Optional: without it the engine's session simply stays open.
    SymCleanupProc symCleanup;
};

// ntdll's NtQueryInformationThread, optional.
typedef LONG(WINAPI* NtQueryInformationThreadProc)(HANDLE, int, PVOID, ULONG, PULONG);

// Symbols, stack walk and minidump for the running process through
// dbghelp.dll. Every buffer it needs is part of the object, so a report
// written in a damaged process does not depend on the heap for them.
class SymbolEngine {
public:
    static const int SymbolNameMax = 412;   // SYMBOL_INFO name
    static const int LegacyNameMax = 476;   // IMAGEHLP_SYMBOL64 name
    static const int ModuleInfoSize = 1672; // the IMAGEHLP_MODULE64 every DbgHelp knows
    static const int SearchPathMax = 4096;

    SymbolEngine() = default;
    ~SymbolEngine() { Unload(); }
    SymbolEngine(const SymbolEngine&) = delete;
    SymbolEngine& operator=(const SymbolEngine&) = delete;

    // Loads dbghelp.dll with every entry point (and ntdll's thread query).
    // 0, with the library released, when anything is missing. Done once,
    // long before any crash: loading a library at crash time waits for the
    // loader's lock, which the crashed thread may hold.
    [[nodiscard]] int Load();
    // Sets the options (no prompts, no symbol server, symbols read only for
    // the modules asked about) and the search path (BuildSymbolSearchPath)
    // and opens a symbol session that knows every loaded module. 0 when the
    // library is not loaded or the session cannot be opened.
    [[nodiscard]] int Open(const wchar_t* executableDirectory);
    // Ends the session; the library stays loaded.
    void Close();
    // Ends the session and releases the library.
    void Unload();
    bool HasLibrary() const { return library_.IsLoaded() && api_.miniDumpWriteDump; }
    // A session is open: symbols, stack walk and minidump can be used.
    bool IsLoaded() const { return loaded_; }
    const DbgHelpApi& Api() const { return api_; }
    NtQueryInformationThreadProc QueryThread() const { return queryThread_; }

    // The name of the function holding `address`: SymFromAddr, else the
    // older SymGetSymFromAddr64. 0 when neither knows it.
    [[nodiscard]] int FunctionName(DWORD64 address, char* name, int size);
    // The source line holding `address`; `file` points into DbgHelp's data.
    [[nodiscard]] int SourceLine(DWORD64 address, DWORD* line, const char** file);
    // The short name of the module holding `address` (SymGetModuleInfo64,
    // else the file name of the module's path) and its base. 0 when no
    // module holds it; a module without a name gives an empty name.
    [[nodiscard]] int ModuleOf(DWORD64 address, char* name, int size, DWORD64* base);
    // The address as the report names it: the function, else
    // "module@0xOFFSET" (with the module alone when `withOffset` is false),
    // else the bare address.
    void DescribeAddress(DWORD64 address, bool withOffset, char* text, int size);

private:
    int Bind();

    LibraryHolder library_;
    LibraryHolder ntdll_;
    DbgHelpApi api_ = {};
    NtQueryInformationThreadProc queryThread_ = nullptr;
    bool loaded_ = false;
    char searchPath_[SearchPathMax * 2];
    // SYMBOL_INFO and IMAGEHLP_SYMBOL64 followed by their names.
    union {
        SYMBOL_INFO symbol;
        IMAGEHLP_SYMBOL64 legacy;
        BYTE bytes[sizeof(IMAGEHLP_SYMBOL64) + LegacyNameMax + 1];
    } symbolRecord_;
    union {
        IMAGEHLP_MODULE64 module;
        BYTE bytes[sizeof(IMAGEHLP_MODULE64) > ModuleInfoSize ? sizeof(IMAGEHLP_MODULE64)
                                                               : ModuleInfoSize];
    } moduleRecord_;
};

// The symbol search path: `directory` (the executable's, with its trailing
// backslash), the Windows folder and the system folder, separated by ";",
// in the ANSI code page. Nothing from the environment: a symbol server that
// "_NT_SYMBOL_PATH" names would be asked while the crashed program waits.
// Pieces that do not fit into `size` bytes are left out.
void BuildSymbolSearchPath(const wchar_t* directory, char* path, int size);

// The options a symbol session runs with.
const DWORD SymbolOptions = SYMOPT_LOAD_LINES | SYMOPT_DEFERRED_LOADS | SYMOPT_NO_PROMPTS |
                            SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_IGNORE_NT_SYMPATH |
                            SYMOPT_DISABLE_SYMSRV_AUTODETECT;

// Copies `text` into `buffer` of `size` bytes, cut when longer.
void CopyText(char* buffer, int size, const char* text);
