#include "ui/ErrorText.h"

#include "services/LibraryHolder.h"

namespace {

const int MessageCapacity = 261; // 260 characters and the terminator
const DWORD DefaultLanguage = 0x0400; // LANG_NEUTRAL, SUBLANG_DEFAULT

// Inserts are ignored: a message such as "Bad EXE format for %1." would
// otherwise make FormatMessageW read arguments nobody passed.
DWORD FormatFrom(DWORD source, HMODULE module, DWORD code, WideString& text)
{
    if (!text.Reserve(MessageCapacity))
        return 0;
    DWORD n = FormatMessageW(source | FORMAT_MESSAGE_IGNORE_INSERTS, module, code, DefaultLanguage,
                             text.Buffer(), (DWORD)text.Capacity() - 1, nullptr);
    if (n == 0) {
        text.Clear();
        return 0;
    }
    text.Recompute();
    return n;
}

} // namespace

void FlattenMessageText(WideString& text)
{
    wchar_t* p = text.Buffer();
    int length = text.Length();
    for (int i = 0; p && i < length; ++i) {
        if (p[i] == L'\r' || p[i] == L'\n')
            p[i] = L' ';
    }
    while (length > 0 && text.At(length - 1) == L' ')
        --length;
    text.Truncate(length);
}

const wchar_t* ErrorText(DWORD code, WideString& text)
{
    text.Clear();
    if (!FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, text)) {
        LibraryHolder wininet;
        if (!wininet.Load(L"wininet.dll") ||
            !FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet.Handle(), code, text))
            return nullptr;
    }
    FlattenMessageText(text);
    return text.Text();
}
