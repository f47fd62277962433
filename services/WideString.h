#pragma once

#include <windows.h>
#include <stdarg.h>

// Owned, growable, NUL-terminated UTF-16 text. The capacity counts every
// character of the buffer, the terminator included, so a platform call is
// handed Buffer() with Capacity() - 1 as its size.
class WideString {
public:
    static const int InitialCapacity = 260;
    // Formatting gives up beyond this many characters and leaves the text empty.
    static const int FormatLimit = 0x300000;
    // Code page argument for conversions that map every byte to the code unit
    // of the same value (and back, keeping the low byte).
    static const UINT BytePerChar = 0xFFFFFFFF;

    WideString();
    WideString(const wchar_t* text);
    // An empty string of exactly `capacity` characters (at least 1).
    static WideString WithCapacity(int capacity);
    WideString(const WideString& other);
    WideString(WideString&& other) noexcept;
    WideString& operator=(const WideString& other);
    WideString& operator=(WideString&& other) noexcept;
    WideString& operator=(const wchar_t* text);
    ~WideString();

    const wchar_t* Text() const { return buffer_ ? buffer_ : L""; }
    operator const wchar_t*() const { return Text(); }
    wchar_t* Buffer() { return buffer_; }
    int Length() const { return length_; }
    int Capacity() const { return capacity_; }
    bool IsEmpty() const { return length_ == 0; }
    wchar_t At(int index) const { return index >= 0 && index < length_ ? buffer_[index] : 0; }

    // Grows the buffer to hold at least `capacity` characters (terminator
    // included); never shrinks. Returns 0 when memory runs out.
    int Reserve(int capacity);
    void Clear();
    // After a platform call has written into Buffer(): the length becomes the
    // position of the first NUL within the capacity.
    void Recompute();
    // Sets the length explicitly (clamped to the capacity less one) and
    // terminates the text there.
    void SetLength(int length);

    int Assign(const wchar_t* text, int count = -1);
    int Append(wchar_t ch);
    int Append(const wchar_t* text, int count = -1);
    // Appends `piece` with `separator` in front, but only when the string is
    // not empty yet; an empty piece adds nothing.
    int AppendWithSeparator(const wchar_t* piece, const wchar_t* separator);

    // printf-style formatting with the Windows rules: %s is a wide text, %hs
    // an 8-bit text, %I64u a 64-bit number.
    int Format(const wchar_t* format, ...);
    int FormatV(const wchar_t* format, va_list args);
    int AppendFormat(const wchar_t* format, ...);

    // Removes every occurrence of `what` (case-sensitive).
    void RemoveAll(const wchar_t* what);
    // Index of the first occurrence of `what` at or after `from`, -1 if none.
    [[nodiscard]] int Find(const wchar_t* what, int from = 0) const;
    // Replaces the text and makes the capacity exactly its length and the
    // terminator: for texts kept a long time, like the names of thousands
    // of devices.
    int AssignExact(const wchar_t* text, int count = -1);
    void Truncate(int length) { if (length >= 0 && length < length_) SetLength(length); }

    int Compare(const wchar_t* other) const;
    int CompareNoCase(const wchar_t* other) const;
    int CompareNoCase(const wchar_t* other, int count) const;
    int CompareLogical(const wchar_t* other) const;
    bool operator==(const wchar_t* other) const { return Compare(other) == 0; }
    bool operator!=(const wchar_t* other) const { return Compare(other) != 0; }

    // Conversions from and to 8-bit text: a Windows code page (CP_ACP,
    // CP_UTF8, ...) or BytePerChar. `count` -1 means up to the NUL.
    [[nodiscard]] int FromMultiByte(const char* text, int count = -1, UINT codePage = CP_ACP);
    // Writes a NUL-terminated 8-bit copy into a new heap block (free()).
    // Returns the block or nullptr; *size receives the byte count without NUL.
    char* ToMultiByte(UINT codePage = CP_ACP, int* size = nullptr) const;

private:
    struct Unallocated {};
    explicit WideString(Unallocated) {}
    int Grow(int capacity);

    wchar_t* buffer_ = nullptr;
    int length_ = 0;
    int capacity_ = 0;
};

// Comparisons on bare texts, shared by the string class and its callers.
// Only the ASCII letters A to Z fold to a to z; everything else must match.
int CompareAsciiNoCase(const wchar_t* a, const wchar_t* b);
int CompareAsciiNoCase(const wchar_t* a, const wchar_t* b, int count);
// Number-aware comparison: StrCmpLogicalW when shlwapi has it, else the
// locale's case-insensitive order with digits compared as numbers.
int CompareLogical(const wchar_t* a, const wchar_t* b);
