#pragma once

#include <windows.h>

#include "services/WideString.h"

// A fresh registry key under HKEY_CURRENT_USER for one test, removed with
// everything below it when the test ends.
class ScopedTestKey {
public:
    explicit ScopedTestKey(const wchar_t* name);
    ~ScopedTestKey();
    ScopedTestKey(const ScopedTestKey&) = delete;
    ScopedTestKey& operator=(const ScopedTestKey&) = delete;

    HKEY Root() const { return HKEY_CURRENT_USER; }
    const wchar_t* Path() const { return path_.Text(); }
    HKEY Handle() const { return key_; }
    // The path of a sub-key below the test key.
    WideString SubPath(const wchar_t* child) const;

private:
    WideString path_;
    HKEY key_ = nullptr;
};

// Deletes `path` and everything below it; 1 when it is gone afterwards.
int DeleteRegistryTree(HKEY root, const wchar_t* path);
