#pragma once

#include <windows.h>
#include <commctrl.h>

// The operations through which the device model fills a tree control. The
// tree view wrapper implements them; tests record them.
class TreeSink {
public:
    virtual ~TreeSink() = default;

    // Nests: redrawing resumes when the outermost suspension ends.
    virtual void SetRedraw(bool on) = 0;
    virtual void DeleteAllItems() = 0;
    virtual void RemoveAllImages() = 0;
    // How many images the tree's image list holds now.
    virtual int ImageCount() const = 0;
    // Adds the icon resource `id` of the sink's module; its index or -1.
    virtual int AddIconResource(int id) = 0;
    // Adds a copy of `icon`; its index or -1.
    virtual int AddIcon(HICON icon) = 0;
    // `state` TVIS_EXPANDED inserts an item with children (`children` 1)
    // already expanded, as expanding it once its children are in would leave
    // it; an item without children stays as it is, as the control would not
    // expand it either. Overlay bits (TVIS_OVERLAYMASK) put that overlay
    // image over the item's image.
    virtual HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text,
                                 int image, int selectedImage, int children, LPARAM param,
                                 UINT state) = 0;
    virtual bool SetItemChildren(HTREEITEM item, int children) = 0;
    virtual bool Expand(HTREEITEM item, UINT action) = 0;
};
