#pragma once

#include <windows.h>

#include <string>

// A file name in the temporary directory, unique to the process, removed
// when the test ends. The file itself is not created.
class ScratchFile {
public:
    explicit ScratchFile(const wchar_t* suffix = L".tmp");
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const wchar_t* Path() const { return path_.c_str(); }
    bool Exists() const;
    // The file's bytes, or "" when it cannot be read.
    std::string Read() const;
    bool Write(const std::string& bytes) const;

private:
    std::wstring path_;
};
