#pragma once

#include "services/WideString.h"

// The list's own order of two cell texts: sizes such as "1.5 kB" and
// "2 MByte" by the bytes they stand for, everything else logically (numbers
// as numbers), ignoring the user's thousands separator and ":".
class ListRowComparison {
public:
    // The separator of the user's locale, "." where the locale names none.
    void ReadThousandsSeparator();
    void SetThousandsSeparator(const wchar_t* separator) { thousands_ = separator; }
    const wchar_t* ThousandsSeparator() const { return thousands_.Text(); }

    // Negative, 0 or positive, reversed when not `ascending`.
    int Compare(const wchar_t* first, const wchar_t* second, bool ascending) const;

    // The value of a text like "1.5 kB" in bytes; 0 when it names no unit
    // (units are case-sensitive and need a blank in front).
    [[nodiscard]] static int ParseByteSize(const wchar_t* text, double* bytes);

private:
    WideString thousands_;
};
