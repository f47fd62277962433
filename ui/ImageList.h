#pragma once

#include <windows.h>
#include <commctrl.h>

// One image list of icons, either created and destroyed by this object or
// one of the shell's system lists, which is shared by the whole process and
// never destroyed. Indexes stay stable until the list is emptied.
class ImageList {
public:
    ImageList() = default;
    ~ImageList() { Destroy(); }
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;

    // A new list of `width` × `height` masked 32-bit icons; what was held
    // before is released. 1 on success.
    int Create(int width, int height, int initial, int grow);
    // The shell's small or large system image list (SHGetFileInfoW with
    // SHGFI_SYSICONINDEX on the Windows folder).
    int UseSystemList(bool small);
    // A new list at another icon size holding the same images at the same
    // indexes (scaled from the old ones), so that items keep their icons.
    int Recreate(int width, int height);
    void Destroy();

    // Icon resource `id` of `instance`, loaded at the list's size; its index or -1.
    int AddIconResource(HINSTANCE instance, int id);
    // A copy of `icon`, scaled to the list's size; its index or -1.
    int AddIcon(HICON icon);
    int RemoveAll();
    int SetBackground(COLORREF colour);

    HIMAGELIST Handle() const { return list_; }
    bool IsShared() const { return shared_; }
    int Count() const;
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    HIMAGELIST list_ = nullptr;
    bool shared_ = false;
    int width_ = 0;
    int height_ = 0;
    int grow_ = 10;
};
