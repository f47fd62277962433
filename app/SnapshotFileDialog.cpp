#include "app/SnapshotFileDialog.h"

#include "resources/resource.h"

#include <commdlg.h>
#include <shlobj.h>

#include <string>

namespace {

// Room for the path the user chooses.
const int PathRoom = 32768;

// The filter of the string table: "|" stands for the NUL between entries.
void Filter(StringTable& strings, std::wstring& filter)
{
    WideString text;
    strings.Get(IDS_SNAPSHOT_FILTER, &text);
    filter.assign(text.Text(), (size_t)text.Length());
    for (wchar_t& ch : filter)
        if (ch == L'|')
            ch = 0;
    filter += L'\0';
}

int Ask(HWND owner, StringTable& strings, UINT title, const wchar_t* folder, const wchar_t* name,
        bool save, WideString& path)
{
    std::wstring filter;
    Filter(strings, filter);
    WideString caption;
    strings.Get(title, &caption);
    if (!path.Reserve(PathRoom))
        return 0;
    path = name ? name : L"";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.Buffer();
    dialog.nMaxFile = (DWORD)path.Capacity() - 1;
    dialog.lpstrInitialDir = folder && *folder ? folder : nullptr;
    dialog.lpstrTitle = caption.Text();
    dialog.lpstrDefExt = L"json";
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    path.Recompute();
    if (!chosen)
        path.Clear();
    return chosen ? 1 : 0;
}

} // namespace

namespace SnapshotFileDialog {

int AskOpen(HWND owner, StringTable& strings, const wchar_t* folder, WideString& path)
{
    return Ask(owner, strings, IDS_SNAPSHOT_OPEN_TITLE, folder, nullptr, false, path);
}

int AskCompare(HWND owner, StringTable& strings, const wchar_t* folder, WideString& path)
{
    return Ask(owner, strings, IDS_COMPARE_TITLE, folder, nullptr, false, path);
}

int AskSave(HWND owner, StringTable& strings, const wchar_t* folder, const wchar_t* name,
            WideString& path)
{
    return Ask(owner, strings, IDS_SNAPSHOT_SAVE_TITLE, folder, name, true, path);
}

void DefaultName(const std::wstring& computer, const SYSTEMTIME& date, WideString& name)
{
    std::wstring safe = computer.substr(0, 64);
    for (wchar_t& ch : safe)
        if (ch < 0x20 || wcschr(L"\\/:*?\"<>|", ch))
            ch = L'_';
    name.Format(L"%s %04u-%02u-%02u.quillmere.json", safe.c_str(), date.wYear, date.wMonth, date.wDay);
}

void DocumentsFolder(WideString& folder)
{
    folder.Clear();
    if (!folder.Reserve(MAX_PATH + 1))
        return;
    if (SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, folder.Buffer()) == S_OK)
        folder.Recompute();
    else
        folder.Clear();
}

} // namespace SnapshotFileDialog
