#pragma once

#include <windows.h>

// One loaded module: a loaded flag and its handle. Loading suppresses the
// system's critical-error boxes, so a missing DLL never stops the program.
class LibraryHolder {
public:
    LibraryHolder() = default;
    ~LibraryHolder() { Release(); }
    LibraryHolder(const LibraryHolder&) = delete;
    LibraryHolder& operator=(const LibraryHolder&) = delete;

    // Releases what was held, then loads `fileName`. A bare file name is a
    // system library and comes from the system directory only (or is the
    // module of that name the process runs already), never from the
    // program's folder, where anyone who can write a download could have
    // put a DLL of the same name; a name with a path is loaded as given.
    // Returns 1 when the module loaded.
    int Load(const wchar_t* fileName);
    // The same for a library that Windows lists among its known DLLs
    // (setupapi.dll): loaded by its bare name, which on Windows always
    // yields the system's own copy, and under Wine lets a DLL override
    // choose a stand-in beside the executable.
    int LoadKnownDll(const wchar_t* fileName);
    // The entry point `name`, or nullptr when nothing is loaded or it is absent.
    FARPROC Lookup(const char* name) const;
    void Release();

    bool IsLoaded() const { return loaded_; }
    HMODULE Handle() const { return module_; }

private:
    int Adopt(HMODULE module);

    bool loaded_ = false;
    HMODULE module_ = nullptr;
};
