#include "services/WideString.h"
#include "services/LibraryHolder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

int TextLength(const wchar_t* text, int count)
{
    if (!text)
        return 0;
    if (count >= 0) {
        int n = 0;
        while (n < count && text[n])
            ++n;
        return n;
    }
    return (int)wcslen(text);
}

wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? (wchar_t)(c + (L'a' - L'A')) : c;
}

// Grows a formatting buffer the way the text's own growth rule says:
// by 260 characters up to 10240, by 10240 beyond.
int NextFormatCapacity(int capacity)
{
    return capacity <= 10240 ? capacity + 260 : capacity + 10240;
}

} // namespace

WideString::WideString()
{
    Grow(InitialCapacity);
}

WideString::WideString(const wchar_t* text)
{
    Grow(InitialCapacity);
    Assign(text);
}

WideString::WideString(const WideString& other)
{
    Grow(other.capacity_ > InitialCapacity ? other.capacity_ : InitialCapacity);
    Assign(other.Text(), other.length_);
}

WideString::WideString(WideString&& other) noexcept
    : buffer_(other.buffer_), length_(other.length_), capacity_(other.capacity_)
{
    other.buffer_ = nullptr;
    other.length_ = 0;
    other.capacity_ = 0;
}

WideString& WideString::operator=(const WideString& other)
{
    if (this != &other)
        Assign(other.Text(), other.length_);
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept
{
    if (this != &other) {
        free(buffer_);
        buffer_ = other.buffer_;
        length_ = other.length_;
        capacity_ = other.capacity_;
        other.buffer_ = nullptr;
        other.length_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

WideString& WideString::operator=(const wchar_t* text)
{
    Assign(text);
    return *this;
}

WideString::~WideString()
{
    free(buffer_);
}

int WideString::Grow(int capacity)
{
    if (capacity <= capacity_)
        return 1;
    wchar_t* grown = (wchar_t*)realloc(buffer_, (size_t)capacity * sizeof(wchar_t));
    if (!grown)
        return 0;
    if (!buffer_)
        grown[0] = 0;
    buffer_ = grown;
    capacity_ = capacity;
    return 1;
}

int WideString::Reserve(int capacity)
{
    return Grow(capacity);
}

void WideString::Clear()
{
    length_ = 0;
    if (buffer_)
        buffer_[0] = 0;
}

void WideString::Recompute()
{
    if (!buffer_) {
        length_ = 0;
        return;
    }
    int n = 0;
    while (n < capacity_ && buffer_[n])
        ++n;
    // A platform call that filled the whole buffer left no terminator.
    if (n == capacity_)
        n = capacity_ - 1;
    SetLength(n);
}

void WideString::SetLength(int length)
{
    if (!buffer_ && !Grow(InitialCapacity))
        return;
    if (length < 0)
        length = 0;
    if (length > capacity_ - 1)
        length = capacity_ - 1;
    length_ = length;
    buffer_[length_] = 0;
}

WideString WideString::WithCapacity(int capacity)
{
    WideString text{Unallocated()};
    text.Grow(capacity > 1 ? capacity : 1);
    return text;
}

int WideString::AssignExact(const wchar_t* text, int count)
{
    int n = TextLength(text, count);
    if (buffer_ && text >= buffer_ && text < buffer_ + capacity_)
        memmove(buffer_, text, (size_t)n * sizeof(wchar_t));
    else if (n + 1 != capacity_ || !buffer_) {
        wchar_t* exact = (wchar_t*)malloc((size_t)(n + 1) * sizeof(wchar_t));
        if (!exact)
            return Assign(text, n);
        if (n)
            memcpy(exact, text, (size_t)n * sizeof(wchar_t));
        free(buffer_);
        buffer_ = exact;
        capacity_ = n + 1;
    } else if (n) {
        memcpy(buffer_, text, (size_t)n * sizeof(wchar_t));
    }
    SetLength(n);
    if (capacity_ > n + 1) {
        wchar_t* fitted = (wchar_t*)realloc(buffer_, (size_t)(n + 1) * sizeof(wchar_t));
        if (fitted) {
            buffer_ = fitted;
            capacity_ = n + 1;
        }
    }
    return 1;
}

int WideString::Assign(const wchar_t* text, int count)
{
    int n = TextLength(text, count);
    // The source may live inside our own buffer; copy before growing.
    if (text >= buffer_ && text < buffer_ + capacity_) {
        memmove(buffer_, text, (size_t)n * sizeof(wchar_t));
        SetLength(n);
        return 1;
    }
    if (n + 1 > capacity_ && !Grow(n + 1 + 20))
        return 0;
    if (n)
        memcpy(buffer_, text, (size_t)n * sizeof(wchar_t));
    SetLength(n);
    return 1;
}

int WideString::Append(wchar_t ch)
{
    if (length_ + 1 >= capacity_ && !Grow(length_ + 21))
        return 0;
    buffer_[length_++] = ch;
    buffer_[length_] = 0;
    return 1;
}

int WideString::Append(const wchar_t* text, int count)
{
    int n = TextLength(text, count);
    if (n == 0)
        return 1;
    int needed = length_ + n + 1;
    if (needed > capacity_) {
        // Appending part of ourselves: keep the source alive across realloc.
        if (text >= buffer_ && text < buffer_ + capacity_) {
            WideString copy;
            if (!copy.Assign(text, n))
                return 0;
            return Append(copy.Text(), n);
        }
        if (!Grow(needed + 20))
            return 0;
    }
    memmove(buffer_ + length_, text, (size_t)n * sizeof(wchar_t));
    length_ += n;
    buffer_[length_] = 0;
    return 1;
}

int WideString::AppendWithSeparator(const wchar_t* piece, const wchar_t* separator)
{
    if (!piece || !*piece)
        return 1;
    if (length_ && separator && !Append(separator))
        return 0;
    return Append(piece);
}

int WideString::FormatV(const wchar_t* format, va_list args)
{
    Clear();
    if (!format)
        return 0;
    int capacity = capacity_;
    for (;;) {
        if (!Grow(capacity)) {
            Clear();
            return 0;
        }
        va_list copy;
        va_copy(copy, args);
        // msvcrt's own function, so that %s, %hs and %I64u keep their
        // Windows meaning (MinGW's C99 printf would read %s as 8-bit).
        int written = _vsnwprintf(buffer_, (size_t)(capacity_ - 1), format, copy);
        va_end(copy);
        if (written >= 0) {
            SetLength(written);
            return 1;
        }
        capacity = NextFormatCapacity(capacity_);
        if (capacity > FormatLimit) {
            Clear();
            return 0;
        }
    }
}

int WideString::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = FormatV(format, args);
    va_end(args);
    return result;
}

int WideString::AppendFormat(const wchar_t* format, ...)
{
    WideString piece;
    va_list args;
    va_start(args, format);
    int result = piece.FormatV(format, args);
    va_end(args);
    return result && Append(piece.Text(), piece.Length());
}

void WideString::RemoveAll(const wchar_t* what)
{
    int n = TextLength(what, -1);
    if (!n || !buffer_)
        return;
    int out = 0;
    for (int in = 0; in < length_;) {
        if (in + n <= length_ && wcsncmp(buffer_ + in, what, (size_t)n) == 0) {
            in += n;
            continue;
        }
        buffer_[out++] = buffer_[in++];
    }
    SetLength(out);
}

int WideString::Find(const wchar_t* what, int from) const
{
    int n = TextLength(what, -1);
    if (!n || from < 0)
        return -1;
    for (int i = from; i + n <= length_; ++i)
        if (wcsncmp(buffer_ + i, what, (size_t)n) == 0)
            return i;
    return -1;
}

int WideString::Compare(const wchar_t* other) const
{
    return wcscmp(Text(), other ? other : L"");
}

int WideString::CompareNoCase(const wchar_t* other) const
{
    return CompareAsciiNoCase(Text(), other);
}

int WideString::CompareNoCase(const wchar_t* other, int count) const
{
    return CompareAsciiNoCase(Text(), other, count);
}

int WideString::CompareLogical(const wchar_t* other) const
{
    return ::CompareLogical(Text(), other);
}

int WideString::FromMultiByte(const char* text, int count, UINT codePage)
{
    Clear();
    if (!text)
        return 1;
    int bytes = count >= 0 ? count : (int)strlen(text);
    if (bytes == 0)
        return 1;
    if (codePage == BytePerChar) {
        if (!Reserve(bytes + 1))
            return 0;
        for (int i = 0; i < bytes; ++i)
            buffer_[i] = (wchar_t)(unsigned char)text[i];
        SetLength(bytes);
        return 1;
    }
    int chars = MultiByteToWideChar(codePage, 0, text, bytes, nullptr, 0);
    if (chars <= 0 || !Reserve(chars + 1))
        return 0;
    chars = MultiByteToWideChar(codePage, 0, text, bytes, buffer_, capacity_ - 1);
    SetLength(chars > 0 ? chars : 0);
    return chars > 0;
}

char* WideString::ToMultiByte(UINT codePage, int* size) const
{
    int bytes = 0;
    if (codePage == BytePerChar) {
        bytes = length_;
    } else if (length_) {
        bytes = WideCharToMultiByte(codePage, 0, Text(), length_, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return nullptr;
    }
    char* out = (char*)malloc((size_t)bytes + 1);
    if (!out)
        return nullptr;
    if (codePage == BytePerChar) {
        for (int i = 0; i < bytes; ++i)
            out[i] = (char)(buffer_[i] & 0xFF);
    } else if (bytes) {
        WideCharToMultiByte(codePage, 0, Text(), length_, out, bytes, nullptr, nullptr);
    }
    out[bytes] = 0;
    if (size)
        *size = bytes;
    return out;
}

int CompareAsciiNoCase(const wchar_t* a, const wchar_t* b)
{
    return CompareAsciiNoCase(a, b, 0x7FFFFFFF);
}

int CompareAsciiNoCase(const wchar_t* a, const wchar_t* b, int count)
{
    if (!a)
        a = L"";
    if (!b)
        b = L"";
    for (int i = 0; i < count; ++i) {
        wchar_t ca = FoldAscii(a[i]);
        wchar_t cb = FoldAscii(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (!ca)
            return 0;
    }
    return 0;
}

int CompareLogical(const wchar_t* a, const wchar_t* b)
{
    typedef int(WINAPI * StrCmpLogicalProc)(const wchar_t*, const wchar_t*);
    static LibraryHolder shlwapi;
    static StrCmpLogicalProc strCmpLogical = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (shlwapi.Load(L"shlwapi.dll"))
            strCmpLogical = (StrCmpLogicalProc)shlwapi.Lookup("StrCmpLogicalW");
    }
    if (!a)
        a = L"";
    if (!b)
        b = L"";
    if (strCmpLogical)
        return strCmpLogical(a, b);
    // NORM_IGNORECASE | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH
    int result = CompareStringW(LOCALE_USER_DEFAULT, 0x30001, a, -1, b, -1);
    if (result == CSTR_EQUAL)
        result = CompareStringW(LOCALE_USER_DEFAULT, SORT_STRINGSORT, a, -1, b, -1);
    return result ? result - CSTR_EQUAL : 0;
}
