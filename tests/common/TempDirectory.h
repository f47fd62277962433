#pragma once

#include <windows.h>

#include <string>

#include "FileBytes.h"
#include "services/WideString.h"

// A fresh directory under the temporary folder for one test, removed with
// everything in it (read-only files included) when the test ends.
class TempDirectory {
public:
    explicit TempDirectory(const wchar_t* name);
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // The directory, without a trailing backslash.
    const wchar_t* Path() const { return path_.Text(); }
    WideString File(const wchar_t* name) const;
    // Writes `bytes` to a file of the directory; true when all were written.
    bool Write(const wchar_t* name, const std::string& bytes) const;
    // The whole file, empty when it cannot be read.
    std::string Read(const wchar_t* name) const;

private:
    WideString path_;
};

// Deletes a directory tree; read-only files are made writable first.
void DeleteDirectoryTree(const wchar_t* path);
