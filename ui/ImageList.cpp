#include "ui/ImageList.h"

#include <shellapi.h>

int ImageList::Create(int width, int height, int initial, int grow)
{
    Destroy();
    if (width <= 0 || height <= 0)
        return 0;
    list_ = ImageList_Create(width, height, ILC_MASK | ILC_COLOR32, initial, grow);
    if (!list_)
        return 0;
    width_ = width;
    height_ = height;
    grow_ = grow;
    return 1;
}

int ImageList::UseSystemList(bool small)
{
    Destroy();
    wchar_t folder[MAX_PATH];
    UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (!length || length >= MAX_PATH)
        return 0;
    SHFILEINFOW info = {};
    UINT flags = SHGFI_SYSICONINDEX | (small ? SHGFI_SMALLICON : SHGFI_LARGEICON);
    list_ = (HIMAGELIST)SHGetFileInfoW(folder, 0, &info, sizeof info, flags);
    if (!list_)
        return 0;
    shared_ = true;
    ImageList_GetIconSize(list_, &width_, &height_);
    return 1;
}

HICON ImageList::LoadSource(const Source& source, int width, int height) const
{
    if (source.icon)
        return CopyIcon(source.icon);
    if (source.id)
        return (HICON)LoadImageW(source.instance, MAKEINTRESOURCEW(source.id), IMAGE_ICON, width,
                                 height, 0);
    return nullptr;
}

void ImageList::ForgetSources()
{
    for (Source& source : sources_)
        if (source.icon)
            DestroyIcon(source.icon);
    sources_.clear();
}

int ImageList::Recreate(int width, int height)
{
    if (shared_ || !list_)
        return 0;
    HIMAGELIST replacement = ImageList_Create(width, height, ILC_MASK | ILC_COLOR32, 10, grow_);
    if (!replacement)
        return 0;
    int count = ImageList_GetImageCount(list_);
    for (int i = 0; i < count; ++i) {
        // The old image scaled is the last resort, for an image whose
        // source cannot be had again.
        HICON icon = i < (int)sources_.size() ? LoadSource(sources_[i], width, height) : nullptr;
        if (!icon)
            icon = ImageList_GetIcon(list_, i, ILD_NORMAL);
        int added = icon ? ImageList_ReplaceIcon(replacement, -1, icon) : -1;
        if (icon)
            DestroyIcon(icon);
        if (added != i) {
            // An index that moved would show every later item with the
            // wrong icon: keep the old list rather than a wrong one.
            ImageList_Destroy(replacement);
            return 0;
        }
    }
    ImageList_Destroy(list_);
    list_ = replacement;
    width_ = width;
    height_ = height;
    return 1;
}

void ImageList::Destroy()
{
    if (list_ && !shared_)
        ImageList_Destroy(list_);
    ForgetSources();
    list_ = nullptr;
    shared_ = false;
    width_ = 0;
    height_ = 0;
}

int ImageList::AddIconResource(HINSTANCE instance, int id)
{
    if (!list_)
        return -1;
    HICON icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, width_, height_, 0);
    if (!icon)
        return -1;
    int index = ImageList_ReplaceIcon(list_, -1, icon);
    DestroyIcon(icon);
    if (index >= 0 && !shared_ && index == (int)sources_.size())
        sources_.push_back({instance, id, nullptr});
    return index;
}

int ImageList::AddIcon(HICON icon)
{
    if (!list_ || !icon)
        return -1;
    int index = ImageList_ReplaceIcon(list_, -1, icon);
    if (index >= 0 && !shared_ && index == (int)sources_.size())
        sources_.push_back({nullptr, 0, CopyIcon(icon)});
    return index;
}

int ImageList::RemoveAll()
{
    if (!list_ || shared_)
        return 0;
    ForgetSources();
    return ImageList_RemoveAll(list_) ? 1 : 0;
}

int ImageList::SetBackground(COLORREF colour)
{
    if (!list_)
        return 0;
    ImageList_SetBkColor(list_, colour);
    return 1;
}

int ImageList::Count() const
{
    return list_ ? ImageList_GetImageCount(list_) : 0;
}
