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

    // Releases what was held, then loads `fileName` (a bare name, so the
    // system's search order applies). Returns 1 when the module loaded.
    int Load(const wchar_t* fileName);
    // The entry point `name`, or nullptr when nothing is loaded or it is absent.
    FARPROC Lookup(const char* name) const;
    void Release();

    bool IsLoaded() const { return loaded_; }
    HMODULE Handle() const { return module_; }

private:
    bool loaded_ = false;
    HMODULE module_ = nullptr;
};
