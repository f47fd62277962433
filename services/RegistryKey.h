#pragma once

#include <windows.h>

#include "services/WideString.h"

// Holder of one registry key handle, opened or created for a single
// operation and closed right after it (or when the holder goes away).
class RegistryKey {
public:
    // Walks the values of a key: (name, type, data byte count, data, context);
    // returns non-zero to go on, 0 to stop.
    typedef int (*ValueCallback)(const wchar_t* name, DWORD type, DWORD size, const BYTE* data,
                                 void* context);

    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // KEY_WOW64_64KEY / KEY_WOW64_32KEY in `view` only count under WOW64.
    int OpenRead(HKEY root, const wchar_t* path, REGSAM view = 0);
    [[nodiscard]] int CreateWrite(HKEY root, const wchar_t* path, REGSAM view = 0);
    void Close();
    HKEY Handle() const { return key_; }
    bool IsOpen() const { return key_ != nullptr; }

    // Up to eight bytes of any type, zero-extended: a REG_DWORD reads as its
    // value with a zero high half. Data longer than eight bytes fails.
    [[nodiscard]] int ReadNumber(const wchar_t* name, unsigned long long* value) const;
    // The value as text. The data must carry its own terminator (the last
    // character is forced to NUL); a REG_MULTI_SZ comes as one line with
    // U+0001 after each element.
    int ReadText(const wchar_t* name, WideString& text) const;
    int ReadText(const wchar_t* name, wchar_t* buffer, int characters) const;
    // Succeeds only when the stored value has exactly `size` bytes; the
    // buffer is zero-filled first either way.
    [[nodiscard]] int ReadBlock(const wchar_t* name, void* buffer, DWORD size) const;

    // REG_QWORD, or REG_DWORD with the low half where REG_QWORD is refused.
    int WriteNumber(const wchar_t* name, unsigned long long value) const;
    int WriteDword(const wchar_t* name, DWORD value) const;
    int WriteText(const wchar_t* name, const wchar_t* text) const;
    int WriteBlock(const wchar_t* name, const void* data, DWORD size, DWORD type = REG_BINARY) const;

    // Opens `key` (and `subKey`, when given) once more for reading and offers
    // each value to `callback`; values whose name or data do not fit the
    // buffers are skipped. Returns the callback's last answer, 1 when no value
    // was delivered, 0 when the key did not open.
    static int EnumerateValues(HKEY key, const wchar_t* subKey, ValueCallback callback, DWORD* type,
                               DWORD dataSize, BYTE* data, void* context);

    // The view flags that apply in this process (none outside WOW64).
    static REGSAM EffectiveView(REGSAM view);

private:
    HKEY key_ = nullptr;
};
