#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

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
    // indexes, so that items keep their icons: each loaded again at the new
    // size from its icon resource or from the icon it was added from, not
    // stretched from the old size.
    int Recreate(int width, int height);
    void Destroy();

    // Icon resource `id` of `instance`, loaded at the list's size; its index or -1.
    int AddIconResource(HINSTANCE instance, int id);
    // A copy of `icon`, scaled to the list's size; its index or -1. The
    // list keeps a copy of the icon to scale from at another size.
    int AddIcon(HICON icon);
    int RemoveAll();
    int SetBackground(COLORREF colour);

    HIMAGELIST Handle() const { return list_; }
    bool IsShared() const { return shared_; }
    int Count() const;
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    // Where image i came from: a resource, or a copy of the icon given.
    struct Source {
        HINSTANCE instance;
        int id;
        HICON icon;
    };

    HICON LoadSource(const Source& source, int width, int height) const;
    void ForgetSources();

    std::vector<Source> sources_;
    HIMAGELIST list_ = nullptr;
    bool shared_ = false;
    int width_ = 0;
    int height_ = 0;
    int grow_ = 10;
};
