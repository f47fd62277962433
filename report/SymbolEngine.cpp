#include "report/SymbolEngine.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

namespace {

// Appends `piece` and a ";" when both fit; nothing otherwise.
void AppendPathPiece(char* path, int size, const char* piece)
{
    int used = (int)strlen(path);
    int length = (int)strlen(piece);
    if (length == 0 || used + length + 2 > size)
        return;
    memcpy(path + used, piece, (size_t)length);
    path[used + length] = ';';
    path[used + length + 1] = 0;
}

void AppendWidePiece(char* path, int size, const wchar_t* piece)
{
    char narrow[MAX_PATH * 4];
    if (piece && *piece &&
        WideCharToMultiByte(CP_ACP, 0, piece, -1, narrow, sizeof(narrow), nullptr, nullptr) > 0)
        AppendPathPiece(path, size, narrow);
}

// A system folder, "" when it cannot be had.
typedef UINT(WINAPI* FolderQuery)(LPWSTR, UINT);
void AppendFolderPiece(char* path, int size, FolderQuery query)
{
    wchar_t folder[MAX_PATH + 1];
    UINT length = query(folder, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH)
        AppendWidePiece(path, size, folder);
}

} // namespace

void CopyText(char* buffer, int size, const char* text)
{
    if (!buffer || size <= 0)
        return;
    int i = 0;
    for (; text && text[i] && i < size - 1; ++i)
        buffer[i] = text[i];
    buffer[i] = 0;
}

void BuildSymbolSearchPath(const wchar_t* directory, char* path, int size)
{
    if (!path || size <= 0)
        return;
    path[0] = 0;
    AppendWidePiece(path, size, directory);
    AppendFolderPiece(path, size, GetSystemWindowsDirectoryW);
    AppendFolderPiece(path, size, GetSystemDirectoryW);
    int used = (int)strlen(path);
    if (used > 0 && path[used - 1] == ';')
        path[used - 1] = 0;
}

int SymbolEngine::Bind()
{
    struct Slot {
        const char* name;
        FARPROC* target;
    };
    const Slot slots[] = {
        {"MiniDumpWriteDump", (FARPROC*)&api_.miniDumpWriteDump},
        {"SymInitialize", (FARPROC*)&api_.symInitialize},
        {"SymSetOptions", (FARPROC*)&api_.symSetOptions},
        {"SymGetSymFromAddr64", (FARPROC*)&api_.symGetSymFromAddr64},
        {"SymFromAddr", (FARPROC*)&api_.symFromAddr},
        {"SymGetModuleInfo64", (FARPROC*)&api_.symGetModuleInfo64},
        {"StackWalk64", (FARPROC*)&api_.stackWalk64},
        {"SymFunctionTableAccess64", (FARPROC*)&api_.symFunctionTableAccess64},
        {"SymGetModuleBase64", (FARPROC*)&api_.symGetModuleBase64},
        {"SymGetLineFromAddr64", (FARPROC*)&api_.symGetLineFromAddr64},
    };
    for (const Slot& slot : slots) {
        *slot.target = library_.Lookup(slot.name);
        if (!*slot.target)
            return 0;
    }
    api_.symCleanup = (DbgHelpApi::SymCleanupProc)library_.Lookup("SymCleanup");
    return 1;
}

int SymbolEngine::Load()
{
    Unload();
    if (ntdll_.Load(L"ntdll.dll"))
        queryThread_ = (NtQueryInformationThreadProc)ntdll_.Lookup("NtQueryInformationThread");
    if (!library_.Load(L"dbghelp.dll") || !Bind()) {
        Unload();
        return 0;
    }
    return 1;
}

int SymbolEngine::Open(const wchar_t* executableDirectory)
{
    Close();
    if (!HasLibrary())
        return 0;
    // Symbols are read for the modules a report names, not for every
    // loaded one, and only from the folders of the path: nothing is asked
    // of a person or of the network while the crashed program waits.
    api_.symSetOptions(SymbolOptions);
    BuildSymbolSearchPath(executableDirectory, searchPath_, sizeof(searchPath_));
    if (!api_.symInitialize(GetCurrentProcess(), searchPath_, TRUE))
        return 0;
    loaded_ = true;
    return 1;
}

void SymbolEngine::Close()
{
    if (loaded_ && api_.symCleanup)
        api_.symCleanup(GetCurrentProcess());
    loaded_ = false;
}

void SymbolEngine::Unload()
{
    Close();
    api_ = DbgHelpApi();
    library_.Release();
    queryThread_ = nullptr;
    ntdll_.Release();
}

int SymbolEngine::FunctionName(DWORD64 address, char* name, int size)
{
    if (!loaded_)
        return 0;
    HANDLE process = GetCurrentProcess();
    DWORD64 displacement = 0;
    memset(&symbolRecord_, 0, sizeof(symbolRecord_));
    symbolRecord_.symbol.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbolRecord_.symbol.MaxNameLen = SymbolNameMax;
    if (api_.symFromAddr(process, address, &displacement, &symbolRecord_.symbol) &&
        symbolRecord_.symbol.Name[0]) {
        symbolRecord_.bytes[offsetof(SYMBOL_INFO, Name) + SymbolNameMax - 1] = 0;
        CopyText(name, size, symbolRecord_.symbol.Name);
        return 1;
    }
    memset(&symbolRecord_, 0, sizeof(symbolRecord_));
    symbolRecord_.legacy.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
    symbolRecord_.legacy.MaxNameLength = LegacyNameMax;
    if (api_.symGetSymFromAddr64(process, address, &displacement, &symbolRecord_.legacy) &&
        symbolRecord_.legacy.Name[0]) {
        symbolRecord_.bytes[offsetof(IMAGEHLP_SYMBOL64, Name) + LegacyNameMax - 1] = 0;
        CopyText(name, size, symbolRecord_.legacy.Name);
        return 1;
    }
    return 0;
}

int SymbolEngine::SourceLine(DWORD64 address, DWORD* line, const char** file)
{
    if (!loaded_)
        return 0;
    IMAGEHLP_LINE64 record = {};
    record.SizeOfStruct = sizeof(record);
    DWORD displacement = 0;
    if (!api_.symGetLineFromAddr64(GetCurrentProcess(), address, &displacement, &record) ||
        !record.FileName)
        return 0;
    *line = record.LineNumber;
    *file = record.FileName;
    return 1;
}

int SymbolEngine::ModuleOf(DWORD64 address, char* name, int size, DWORD64* base)
{
    if (!loaded_ || size <= 0)
        return 0;
    name[0] = 0;
    HANDLE process = GetCurrentProcess();
    DWORD64 moduleBase = api_.symGetModuleBase64(process, address);
    memset(&moduleRecord_, 0, sizeof(moduleRecord_));
    moduleRecord_.module.SizeOfStruct = ModuleInfoSize;
    if (api_.symGetModuleInfo64(process, address, &moduleRecord_.module)) {
        moduleRecord_.module.ModuleName[sizeof(moduleRecord_.module.ModuleName) - 1] = 0;
        CopyText(name, size, moduleRecord_.module.ModuleName);
        if (!moduleBase)
            moduleBase = moduleRecord_.module.BaseOfImage;
    }
    if (!moduleBase)
        return 0;
    if (!name[0]) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA((HMODULE)(ULONG_PTR)moduleBase, path, sizeof(path));
        if (length > 0 && length < sizeof(path)) {
            const char* file = path;
            for (const char* p = path; *p; ++p)
                if (*p == '\\' || *p == '/')
                    file = p + 1;
            CopyText(name, size, file);
        }
    }
    *base = moduleBase;
    return 1;
}

void SymbolEngine::DescribeAddress(DWORD64 address, bool withOffset, char* text, int size)
{
    if (FunctionName(address, text, size))
        return;
    char module[MAX_PATH];
    DWORD64 base = 0;
    if (ModuleOf(address, module, sizeof(module), &base)) {
        DWORD64 offset = address - base;
        if (!withOffset && module[0])
            CopyText(text, size, module);
        else if (module[0])
            _snprintf(text, (size_t)size, "%s@0x%I64X", module, offset);
        else
            _snprintf(text, (size_t)size, "0x%I64X@0x%I64X", offset, offset);
    } else {
        _snprintf(text, (size_t)size, "0x%08I64X", address);
    }
    text[size - 1] = 0;
}
