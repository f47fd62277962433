#pragma once

#include <windows.h>

#include "services/WideString.h"

// One INI file read and written through the private-profile functions.
class IniFile {
public:
    // What is put in front of the name given to SetLocation.
    enum Location {
        AsGiven = 0,            // nothing: the name is a path already
        LocalAppDataOnVista = 1, // local application data on Vista or later, else the program's directory
        ProgramDirectory = 2,   // the executable's directory
        CurrentDirectory = 3,   // the current directory
        LocalAppData = 4,       // the local application-data folder
    };
    // The most reads of one text value; every read doubles the buffer.
    static constexpr int MaximumReads = 6;

    IniFile() = default;
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    int SetLocation(const wchar_t* name, int location);
    const wchar_t* Path() const { return path_.Text(); }

    // The stored text, or `fallback` (empty when none); always 1.
    int ReadText(const wchar_t* section, const wchar_t* key, const wchar_t* fallback, WideString& text);
    // A new file is started in UTF-16 so that every character survives; a
    // read-only file is never written.
    int WriteText(const wchar_t* section, const wchar_t* key, const wchar_t* text);
    // The buffer is zero-filled first; the stored block must have exactly
    // `size` bytes and a valid checksum.
    [[nodiscard]] int ReadBlock(const wchar_t* section, const wchar_t* key, void* buffer, UINT size);
    int WriteBlock(const wchar_t* section, const wchar_t* key, const void* data, UINT size);

    // Gives back the memory of the cached read buffer.
    void FreeBuffers();
    // How many reads the last ReadText took, and the buffer it ended with.
    int LastReadCount() const { return lastReads_; }
    int BufferCapacity() const { return buffer_.Capacity(); }

private:
    // Refuses a read-only file and starts a missing one as UTF-16.
    int PrepareForWriting() const;

    WideString path_;
    // Kept between reads, so a long value costs its doublings only once.
    WideString buffer_;
    int lastReads_ = 0;
};
