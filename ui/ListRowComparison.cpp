#include "ui/ListRowComparison.h"

#include <wchar.h>

namespace {

struct ByteUnit {
    const wchar_t* text;
    double factor;
};

// Tested in this order; the first unit found in the text wins.
const ByteUnit ByteUnits[] = {
    {L" PByte", 1125899906842624.0}, {L" PB", 1125899906842624.0},
    {L" TByte", 1099511627776.0},    {L" TB", 1099511627776.0},
    {L" GByte", 1073741824.0},       {L" GB", 1073741824.0},
    {L" MByte", 1048576.0},          {L" MB", 1048576.0},
    {L" kByte", 1024.0},             {L" kB", 1024.0},
    {L" Byte", 1.0},
};

int Sign(double difference)
{
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

} // namespace

void ListRowComparison::ReadThousandsSeparator()
{
    thousands_.Clear();
    thousands_.Reserve(8);
    int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousands_.Buffer(),
                                thousands_.Capacity() - 1);
    if (length > 0)
        thousands_.Recompute();
    else
        thousands_ = L".";
}

int ListRowComparison::ParseByteSize(const wchar_t* text, double* bytes)
{
    *bytes = 0;
    if (!text)
        return 0;
    for (const ByteUnit& unit : ByteUnits) {
        if (wcsstr(text, unit.text)) {
            // The leading number, as "%lf" reads it; none counts as 0.
            wchar_t* end = nullptr;
            double value = wcstod(text, &end);
            *bytes = end == text ? 0 : value * unit.factor;
            return 1;
        }
    }
    return 0;
}

int ListRowComparison::Compare(const wchar_t* first, const wchar_t* second, bool ascending) const
{
    double a = 0;
    double b = 0;
    if (ParseByteSize(first, &a) && ParseByteSize(second, &b))
        return ascending ? Sign(a - b) : Sign(b - a);
    WideString left(ascending ? first : second);
    WideString right(ascending ? second : first);
    if (!thousands_.IsEmpty()) {
        left.RemoveAll(thousands_.Text());
        right.RemoveAll(thousands_.Text());
    }
    left.RemoveAll(L":");
    right.RemoveAll(L":");
    return left.CompareLogical(right.Text());
}
