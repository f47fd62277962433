#pragma once

#include <windows.h>

// Puts `replacement` in the place of one function the test executable
// imports, for as long as the hook lives, so a test can see the platform
// calls the code under test makes (in their order) without changing it.
class ImportHook {
public:
    ImportHook(const char* library, const char* function, const void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool IsInstalled() const { return slot_ != nullptr; }
    // The function that was imported; call it from the replacement.
    const void* Original() const { return original_; }

private:
    static void Write(const void** slot, const void* value);

    const void** slot_ = nullptr;
    const void* original_ = nullptr;
};
