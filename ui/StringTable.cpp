#include "ui/StringTable.h"

#include "ui/ModuleResources.h"

namespace {

const wchar_t MissingText[] = L"?";

LANGID WINAPI SystemUiLanguage()
{
    // GetSystemDefaultUILanguage appeared with Windows 2000.
    typedef LANGID(WINAPI * Function)();
    static Function function = (Function)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                        "GetSystemDefaultUILanguage");
    return function ? function() : (LANGID)9;
}

bool HasPrimaryLanguage(LANGID language)
{
    return PRIMARYLANGID(language) != 0;
}

} // namespace

const LanguageSources& SystemLanguageSources()
{
    static const LanguageSources sources = {&GetUserDefaultLangID, &GetUserDefaultUILanguage,
                                            &GetSystemDefaultLangID, &SystemUiLanguage};
    return sources;
}

LANGID StringTable::ResolveLanguage(int selector, const LanguageSources& sources)
{
    switch (selector) {
    case UserLanguage: {
        LANGID language = sources.GetUserDefaultLangID();
        // A custom locale (LOCALE_CUSTOM_DEFAULT and above) names no
        // language, so the user's interface language stands in for it.
        if (language >= 0x0C00 && !HasPrimaryLanguage(language)) {
            LANGID ui = sources.GetUserDefaultUILanguage ? sources.GetUserDefaultUILanguage() : 0;
            language = HasPrimaryLanguage(ui) ? ui : (LANGID)9;
        }
        return language;
    }
    case SystemLanguage:
        return sources.GetSystemDefaultLangID();
    case SystemUiLanguage:
        return sources.GetSystemDefaultUILanguage ? sources.GetSystemDefaultUILanguage()
                                                  : (LANGID)9;
    default:
        return (LANGID)selector;
    }
}

StringTable::StringTable(HMODULE module, int selector)
    : module_(module ? module : GetModuleHandleW(nullptr)), selector_(selector)
{
    text_[0] = 0;
}

int StringTable::ReadBlockEntry(const void* block, DWORD size, int index, wchar_t* text,
                                int capacity)
{
    if (!block || index < 0 || index > 15 || !text || capacity < 1)
        return 0;
    text[0] = 0;
    const WCHAR* p = (const WCHAR*)block;
    DWORD remaining = size / sizeof(WCHAR);
    for (int entry = 0; entry < 16 && remaining > 0; ++entry) {
        DWORD length = *p++;
        --remaining;
        // A length beyond the block means a damaged resource.
        if (length > remaining)
            return 0;
        if (entry == index) {
            if (length == 0)
                return 0;
            DWORD copy = length < (DWORD)(capacity - 1) ? length : (DWORD)(capacity - 1);
            for (DWORD i = 0; i < copy; ++i)
                text[i] = p[i];
            text[copy] = 0;
            return 1;
        }
        p += length;
        remaining -= length;
    }
    return 0;
}

const wchar_t* StringTable::Get(UINT id, WideString* buffer, int selector)
{
    // The table's own buffer keeps the last text read without a caller buffer.
    wchar_t local[TextCapacity];
    wchar_t* text = buffer ? local : text_;
    LANGID language = ResolveLanguage(selector == DefaultSelector ? selector_ : selector);
    DWORD size = 0;
    const void* block = FindModuleResource(module_, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1),
                                           language, &size);
    if (!block || !ReadBlockEntry(block, size, (int)(id % 16), text, TextCapacity))
        lstrcpynW(text, MissingText, TextCapacity);
    if (!buffer)
        return text_;
    buffer->Assign(text);
    return buffer->Text();
}
