#include "report/ProfileMask.h"

#include <string.h>
#include <wchar.h>

namespace {

const char ProfilePlaceholder[] = "%USERPROFILE%";
const char UserNamePlaceholder[] = "%USERNAME%";

template <typename Char> int Length(const Char* text)
{
    int length = 0;
    while (text[length])
        ++length;
    return length;
}

template <typename Char> Char FoldAscii(Char ch)
{
    return ch >= 'a' && ch <= 'z' ? (Char)(ch - 'a' + 'A') : ch;
}

template <typename Char> bool IsSeparator(Char ch)
{
    return ch == '\\' || ch == '/';
}

// Where a path component ends: a separator, or the end of the path in a
// text (its end, or the line's end after it).
template <typename Char> bool EndsComponent(Char ch)
{
    return IsSeparator(ch) || static_cast<unsigned>(ch) < 0x20u;
}

// The length of `term` when `text` starts with it (letters of either case)
// and a path component ends with it; 0 otherwise.
template <typename Char> int MatchAt(const Char* text, const Char* term)
{
    if (!*term)
        return 0;
    int i = 0;
    for (; term[i]; ++i) {
        if (FoldAscii(text[i]) != FoldAscii(term[i]))
            return 0;
    }
    return EndsComponent(text[i]) ? i : 0;
}

// Walks `text` and hands `emit` the unchanged runs and the placeholders.
template <typename Char, typename Emit>
int MaskTerms(const Char* text, const Char (&profile)[2][ProfileMask::TextMax],
              const Char* userName, Emit emit)
{
    int masked = 0;
    const Char* run = text;
    const Char* at = text;
    while (*at) {
        int length = MatchAt(at, profile[0]);
        if (!length)
            length = MatchAt(at, profile[1]);
        const char* placeholder = ProfilePlaceholder;
        if (!length && (at == text || IsSeparator(at[-1]))) {
            length = MatchAt(at, userName);
            placeholder = UserNamePlaceholder;
        }
        if (!length) {
            ++at;
            continue;
        }
        emit(run, (int)(at - run), nullptr);
        emit(nullptr, 0, placeholder);
        masked = 1;
        at += length;
        run = at;
    }
    emit(run, (int)(at - run), nullptr);
    return masked;
}

void CopyTerm(wchar_t* target, const wchar_t* source)
{
    target[0] = 0;
    if (source && wcslen(source) < (size_t)ProfileMask::TextMax)
        wcscpy(target, source);
    size_t length = wcslen(target);
    while (length > 0 && IsSeparator(target[length - 1]))
        target[--length] = 0;
}

void ToAnsiTerm(const wchar_t* term, char* target)
{
    target[0] = 0;
    if (*term &&
        WideCharToMultiByte(CP_ACP, 0, term, -1, target, ProfileMask::TextMax, nullptr, nullptr) <= 0)
        target[0] = 0;
}

} // namespace

void ProfileMask::Load()
{
    wchar_t profile[TextMax] = L"", shortProfile[TextMax] = L"", user[TextMax] = L"";
    DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, TextMax);
    if (length == 0 || length >= (DWORD)TextMax)
        profile[0] = 0;
    length = profile[0] ? GetShortPathNameW(profile, shortProfile, TextMax) : 0;
    if (length == 0 || length >= (DWORD)TextMax)
        shortProfile[0] = 0;
    DWORD size = TextMax;
    if (!GetUserNameW(user, &size))
        user[0] = 0;
    Use(profile, shortProfile, user);
}

void ProfileMask::Use(const wchar_t* profile, const wchar_t* shortProfile, const wchar_t* userName)
{
    CopyTerm(wide_.profile[0], profile);
    CopyTerm(wide_.profile[1], shortProfile);
    // A path of one component names no user ("C:" of a profile at a root).
    for (wchar_t* term : wide_.profile) {
        if (!wcschr(term, L'\\'))
            term[0] = 0;
    }
    if (!wcscmp(wide_.profile[0], wide_.profile[1]))
        wide_.profile[1][0] = 0;
    CopyTerm(wide_.userName, userName);
    if (wcschr(wide_.userName, L'\\') || wcschr(wide_.userName, L'/'))
        wide_.userName[0] = 0;
    Derive();
}

void ProfileMask::Derive()
{
    ToAnsiTerm(wide_.profile[0], ansi_.profile[0]);
    ToAnsiTerm(wide_.profile[1], ansi_.profile[1]);
    ToAnsiTerm(wide_.userName, ansi_.userName);
}

bool ProfileMask::IsEmpty() const
{
    return !wide_.profile[0][0] && !wide_.profile[1][0] && !wide_.userName[0];
}

int ProfileMask::Mask(const wchar_t* text, wchar_t* out, int size) const
{
    if (!out || size <= 0)
        return 0;
    out[0] = 0;
    if (!text)
        return 0;
    int used = 0;
    auto emit = [&](const wchar_t* piece, int length, const char* placeholder) {
        for (int i = 0; placeholder && placeholder[i] && used < size - 1; ++i)
            out[used++] = (wchar_t)placeholder[i];
        for (int i = 0; piece && i < length && used < size - 1; ++i)
            out[used++] = piece[i];
    };
    int masked = MaskTerms(text, wide_.profile, wide_.userName, emit);
    out[used] = 0;
    return masked;
}

int ProfileMask::WriteMasked(const char* text, PieceWriter write, void* context) const
{
    if (!text || !write)
        return 0;
    int result = 1;
    auto emit = [&](const char* piece, int length, const char* placeholder) {
        if (placeholder)
            result &= write(placeholder, Length(placeholder), context);
        else if (length > 0)
            result &= write(piece, length, context);
    };
    MaskTerms(text, ansi_.profile, ansi_.userName, emit);
    return result;
}
