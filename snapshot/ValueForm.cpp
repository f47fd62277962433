#include "snapshot/ValueForm.h"

#include <stdio.h>
#include <string.h>

namespace {

const unsigned long long TicksPerSecond = 10000000ull;
const long long SecondsPerDay = 86400;
// 1601-01-01 is this many days after 0000-03-01 of the proleptic calendar
// that the conversions below count from.
const long long DaysTo1601 = 584694;
// Ticks at 10000-01-01T00:00:00Z: later times have no four-digit year.
const unsigned long long TicksOfYear10000 = 2650467744000000000ull;

bool IsStringType(ValueKind kind, DWORD type)
{
    if (kind == ValueKind::Registry)
        return type == REG_SZ || type == REG_EXPAND_SZ;
    return type == DEVPROP_TYPE_STRING || type == DEVPROP_TYPE_SECURITY_DESCRIPTOR_STRING ||
           type == DEVPROP_TYPE_STRING_INDIRECT;
}

bool IsStringListType(ValueKind kind, DWORD type)
{
    return kind == ValueKind::Registry ? type == REG_MULTI_SZ : type == DEVPROP_TYPE_STRING_LIST;
}

const wchar_t* Units(const std::vector<BYTE>& bytes)
{
    return (const wchar_t*)bytes.data();
}

// Well-formed UTF-16 of whole code units that ends in a NUL.
bool IsTerminatedText(const std::vector<BYTE>& bytes)
{
    if (bytes.size() < 2 || bytes.size() % 2)
        return false;
    size_t count = bytes.size() / 2;
    return Units(bytes)[count - 1] == 0 && IsWellFormedUtf16(Units(bytes), count - 1);
}

bool FitsText(const std::vector<BYTE>& bytes)
{
    if (!IsTerminatedText(bytes))
        return false;
    size_t count = bytes.size() / 2 - 1;
    return wmemchr(Units(bytes), 0, count) == nullptr;
}

bool FitsTexts(const std::vector<BYTE>& bytes)
{
    // Each string ends in a NUL, and one more NUL ends the list: the units
    // before the last must be empty or end in a NUL of their own.
    if (!IsTerminatedText(bytes))
        return false;
    size_t count = bytes.size() / 2 - 1;
    return count == 0 || Units(bytes)[count - 1] == 0;
}

// Days since 0000-03-01 of a civil date, and back (proleptic Gregorian).
long long DaysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    long long era = year / 400;
    unsigned yearOfEra = (unsigned)(year - era * 400);
    unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + (long long)dayOfEra;
}

void CivilFromDays(long long days, long long& year, unsigned& month, unsigned& day)
{
    long long era = days / 146097;
    unsigned dayOfEra = (unsigned)(days - era * 146097);
    unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = (long long)yearOfEra + era * 400 + (month <= 2);
}

unsigned DaysInMonth(long long year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// `count` decimal digits at `text`; 0 when any is not one.
bool Digits(const char* text, int count, unsigned long long& value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (unsigned)(text[i] - '0');
    }
    return true;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return -1;
}

} // namespace

int NumberWidth(ValueKind kind, DWORD type)
{
    if (kind == ValueKind::Registry)
        return type == REG_DWORD ? 4 : type == REG_QWORD ? 8 : 0;
    switch (type) {
    case DEVPROP_TYPE_BYTE:
        return 1;
    case DEVPROP_TYPE_UINT16:
        return 2;
    case DEVPROP_TYPE_UINT32:
        return 4;
    case DEVPROP_TYPE_UINT64:
        return 8;
    default:
        return 0;
    }
}

bool FormSuitsType(ValueKind kind, DWORD type, ValueForm form)
{
    switch (form) {
    case ValueForm::Empty:
    case ValueForm::Base64:
        return true;
    case ValueForm::Text:
        return IsStringType(kind, type);
    case ValueForm::Texts:
        return IsStringListType(kind, type);
    case ValueForm::Number:
        return NumberWidth(kind, type) != 0;
    case ValueForm::Boolean:
        return kind == ValueKind::Property && type == DEVPROP_TYPE_BOOLEAN;
    case ValueForm::Guid:
        return kind == ValueKind::Property && type == DEVPROP_TYPE_GUID;
    case ValueForm::Time:
        return kind == ValueKind::Property && type == DEVPROP_TYPE_FILETIME;
    }
    return false;
}

ValueForm ChooseForm(ValueKind kind, const SnapshotValue& value)
{
    const std::vector<BYTE>& bytes = value.bytes;
    DWORD type = value.type;
    if (bytes.empty())
        return ValueForm::Empty;
    if (IsStringType(kind, type) && FitsText(bytes))
        return ValueForm::Text;
    if (IsStringListType(kind, type) && FitsTexts(bytes))
        return ValueForm::Texts;
    int width = NumberWidth(kind, type);
    if (width && bytes.size() == (size_t)width)
        return ValueForm::Number;
    if (FormSuitsType(kind, type, ValueForm::Boolean) && bytes.size() == 1 &&
        (bytes[0] == 0 || bytes[0] == 0xFF))
        return ValueForm::Boolean;
    if (FormSuitsType(kind, type, ValueForm::Guid) && bytes.size() == sizeof(GUID))
        return ValueForm::Guid;
    std::string time;
    if (FormSuitsType(kind, type, ValueForm::Time) && bytes.size() == sizeof(FILETIME) &&
        TimeString(NumberOf(bytes), time))
        return ValueForm::Time;
    return ValueForm::Base64;
}

bool IsWellFormedUtf16(const wchar_t* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        wchar_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::wstring TextOf(const std::vector<BYTE>& bytes)
{
    return std::wstring(Units(bytes), bytes.size() / 2 - 1);
}

std::vector<std::wstring> TextsOf(const std::vector<BYTE>& bytes)
{
    std::vector<std::wstring> texts;
    const wchar_t* unit = Units(bytes);
    const wchar_t* end = unit + bytes.size() / 2 - 1; // before the list's own NUL
    while (unit < end) {
        size_t length = wcslen(unit);
        texts.emplace_back(unit, length);
        unit += length + 1;
    }
    return texts;
}

void AppendTextBytes(std::vector<BYTE>& bytes, const std::wstring& text)
{
    const BYTE* units = (const BYTE*)text.c_str();
    bytes.insert(bytes.end(), units, units + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<BYTE> TextsBytes(const std::vector<std::wstring>& texts)
{
    std::vector<BYTE> bytes;
    for (const std::wstring& text : texts)
        AppendTextBytes(bytes, text);
    AppendTextBytes(bytes, std::wstring());
    return bytes;
}

unsigned long long NumberOf(const std::vector<BYTE>& bytes)
{
    unsigned long long number = 0;
    for (size_t i = bytes.size(); i-- > 0;)
        number = (number << 8) | bytes[i];
    return number;
}

std::vector<BYTE> NumberBytes(unsigned long long number, int width)
{
    std::vector<BYTE> bytes((size_t)width);
    for (int i = 0; i < width; ++i, number >>= 8)
        bytes[(size_t)i] = (BYTE)number;
    return bytes;
}

std::string GuidString(const GUID& guid)
{
    char text[40];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             (unsigned long)guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
             guid.Data4[7]);
    return text;
}

int ParseGuidString(const char* text, size_t length, GUID& guid)
{
    // Where each of the 16 bytes begins, in the order of the GUID's fields.
    static const int at[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
    if (length != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-')
        return 0;
    BYTE bytes[16];
    for (int i = 0; i < 16; ++i) {
        int high = HexDigit(text[at[i]]), low = HexDigit(text[at[i] + 1]);
        if (high < 0 || low < 0)
            return 0;
        bytes[i] = (BYTE)(high << 4 | low);
    }
    guid.Data1 = (DWORD)bytes[0] << 24 | (DWORD)bytes[1] << 16 | (DWORD)bytes[2] << 8 | bytes[3];
    guid.Data2 = (WORD)(bytes[4] << 8 | bytes[5]);
    guid.Data3 = (WORD)(bytes[6] << 8 | bytes[7]);
    memcpy(guid.Data4, bytes + 8, 8);
    return 1;
}

int TimeString(unsigned long long ticks, std::string& text)
{
    if (ticks >= TicksOfYear10000)
        return 0;
    unsigned long long seconds = ticks / TicksPerSecond;
    unsigned fraction = (unsigned)(ticks % TicksPerSecond);
    long long days = (long long)(seconds / SecondsPerDay);
    unsigned secondOfDay = (unsigned)(seconds % SecondsPerDay);
    long long year;
    unsigned month, day;
    CivilFromDays(days + DaysTo1601, year, month, day);
    char spelled[40];
    snprintf(spelled, sizeof spelled, "%04lld-%02u-%02uT%02u:%02u:%02u.%07uZ", year, month, day,
             secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60, fraction);
    text = spelled;
    return 1;
}

int ParseTimeString(const char* text, size_t length, unsigned long long& ticks)
{
    // 2023-12-31T23:59:59.0000000Z
    if (length != 28 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[27] != 'Z')
        return 0;
    unsigned long long year, month, day, hour, minute, second, fraction;
    if (!Digits(text, 4, year) || !Digits(text + 5, 2, month) || !Digits(text + 8, 2, day) ||
        !Digits(text + 11, 2, hour) || !Digits(text + 14, 2, minute) ||
        !Digits(text + 17, 2, second) || !Digits(text + 20, 7, fraction))
        return 0;
    if (year < 1601 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth((long long)year, (unsigned)month) || hour > 23 || minute > 59 ||
        second > 59)
        return 0;
    long long days = DaysFromCivil((long long)year, (unsigned)month, (unsigned)day) - DaysTo1601;
    ticks = ((unsigned long long)days * SecondsPerDay + hour * 3600 + minute * 60 + second) *
                TicksPerSecond +
            fraction;
    return 1;
}

std::string SecondString(const SYSTEMTIME& time)
{
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
    return text;
}
