#include "services/SettingText.h"

#include "services/RegistryKey.h"

namespace {

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t';
}

const wchar_t* SkipBlanks(const wchar_t* text)
{
    while (IsBlank(*text))
        ++text;
    return text;
}

// One signed decimal number at `text`; the position after it, or nullptr.
const wchar_t* ParseInteger(const wchar_t* text, int* value)
{
    bool negative = false;
    if (*text == L'-' || *text == L'+')
        negative = *text++ == L'-';
    if (*text < L'0' || *text > L'9')
        return nullptr;
    long long number = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        number = number * 10 + (*text - L'0');
        if (number > 2147483648LL)
            return nullptr;
    }
    if (negative)
        number = -number;
    if (number > 2147483647LL)
        return nullptr;
    *value = (int)number;
    return text;
}

} // namespace

int ReadSettingText(HKEY root, const wchar_t* path, const wchar_t* name, WideString& text,
                    SettingsStore* store)
{
    text.Clear();
    if (store) {
        if (!store->ReadText(name, text) || text.Length() > SettingTextLimit) {
            text.Clear();
            return 0;
        }
        return 1;
    }
    RegistryKey key;
    wchar_t buffer[SettingTextLimit + 1];
    DWORD type = 0;
    if (!key.OpenRead(root, path) ||
        RegQueryValueExW(key.Handle(), name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) ||
        !key.ReadText(name, buffer, SettingTextLimit + 1))
        return 0;
    return text.Assign(buffer);
}

int WriteSettingText(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text,
                     SettingsStore* store)
{
    if (store)
        return store->WriteText(name, text);
    RegistryKey key;
    return key.CreateWrite(root, path) && key.WriteText(name, text);
}

int ParseNumberList(const wchar_t* text, int* values, int count)
{
    if (!text || !values || count <= 0)
        return 0;
    int parsed[8];
    if (count > (int)(sizeof parsed / sizeof parsed[0]))
        return 0;
    const wchar_t* at = text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            if (*at != L',')
                return 0;
            ++at;
        }
        at = ParseInteger(SkipBlanks(at), &parsed[i]);
        if (!at)
            return 0;
        at = SkipBlanks(at);
    }
    if (*at)
        return 0;
    for (int i = 0; i < count; ++i)
        values[i] = parsed[i];
    return 1;
}
