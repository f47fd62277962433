#pragma once

#include <windows.h>

// What in a path says who the user is: the profile folder and the user's
// name. The crash files show "%USERPROFILE%" for the folder (in its long and
// its short form) and "%USERNAME%" for a path component that is the user's
// name, so neither file names the user. Read once, long before any crash;
// masking needs no heap.
class ProfileMask {
public:
    static const int TextMax = MAX_PATH;

    // Reads the profile folder ("USERPROFILE") and the user's name. What
    // cannot be read is not masked.
    void Load();
    // For tests: the terms given directly (none: no such term).
    void Use(const wchar_t* profile, const wchar_t* shortProfile, const wchar_t* userName);
    bool IsEmpty() const;

    // `text` masked into `out` of `size` characters, cut when it does not
    // fit. 1 when something was masked.
    int Mask(const wchar_t* text, wchar_t* out, int size) const;

    // 8-bit text (ANSI code page), handed on in pieces to `write`, which
    // returns 1 or 0; the result is 0 when any piece failed.
    typedef int (*PieceWriter)(const char* piece, int length, void* context);
    int WriteMasked(const char* text, PieceWriter write, void* context) const;

private:
    template <typename Char> struct Terms {
        Char profile[2][TextMax];
        Char userName[TextMax];
    };
    void Derive();

    Terms<wchar_t> wide_ = {};
    Terms<char> ansi_ = {};
};
