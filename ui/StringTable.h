#pragma once

#include <windows.h>

#include "services/WideString.h"

// Where the language ids behind the selectors come from. The system's own
// functions by default; GetSystemDefaultUILanguage may be absent (nullptr).
struct LanguageSources {
    LANGID (WINAPI* GetUserDefaultLangID)();
    LANGID (WINAPI* GetUserDefaultUILanguage)();
    LANGID (WINAPI* GetSystemDefaultLangID)();
    LANGID (WINAPI* GetSystemDefaultUILanguage)();
};
const LanguageSources& SystemLanguageSources();

// Strings of a module's string table in the user's language, with the
// resource language fall-back behind it.
class StringTable {
public:
    // Language selectors; any other value is a language id of its own.
    static const int UserLanguage = 1024;
    static const int SystemLanguage = 2048;
    static const int SystemUiLanguage = 0;
    static const int DefaultSelector = -1;
    // The longest text handed out is one less than this.
    static const int TextCapacity = 600;

    // `module` nullptr means the process's executable.
    explicit StringTable(HMODULE module = nullptr, int selector = UserLanguage);

    // String `id` in the language of `selector` (DefaultSelector: the
    // table's own). The text goes into `buffer` when one is given, else into
    // the table's own buffer, which the next call overwrites. A missing
    // string gives "?".
    const wchar_t* Get(UINT id, WideString* buffer = nullptr, int selector = DefaultSelector);

    void SetSelector(int selector) { selector_ = selector; }
    int Selector() const { return selector_; }

    static LANGID ResolveLanguage(int selector,
                                  const LanguageSources& sources = SystemLanguageSources());

    // Entry `index` (0 to 15) of one RT_STRING block of `size` bytes, at most
    // TextCapacity - 1 characters, into `text`. 0 when the entry is empty or
    // the block ends before it.
    [[nodiscard]] static int ReadBlockEntry(const void* block, DWORD size, int index, wchar_t* text,
                              int capacity);

private:
    HMODULE module_;
    int selector_;
    wchar_t text_[TextCapacity];
};
