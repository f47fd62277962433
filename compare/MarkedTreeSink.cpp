#include "compare/MarkedTreeSink.h"

#include "devices/DeviceNode.h"
#include "ui/TreeViewControl.h"

#include <commctrl.h>

#include <string.h>

#include <vector>

MarkedTreeSink::MarkedTreeSink(TreeViewControl& tree, const int (&markIcons)[DeviceComparison::ChangeCount])
    : tree_(tree)
{
    for (int i = 0; i < DeviceComparison::ChangeCount; ++i)
        markIcons_[i] = markIcons[i];
}

int MarkedTreeSink::OverlayOf(DeviceComparison::Change change) const
{
    return marksAdded_ ? overlays_[change] : 0;
}

COLORREF MarkedTreeSink::TextColour(DeviceComparison::Change change, bool highContrast)
{
    // Every colour keeps at least 4.5:1 against white.
    switch (change) {
    case DeviceComparison::Added:
        return highContrast ? GetSysColor(COLOR_HOTLIGHT) : RGB(0, 120, 0);
    case DeviceComparison::Removed:
        return highContrast ? GetSysColor(COLOR_GRAYTEXT) : RGB(112, 112, 112);
    case DeviceComparison::Changed:
        return highContrast ? GetSysColor(COLOR_HIGHLIGHT) : RGB(0, 84, 200);
    default:
        return GetSysColor(COLOR_WINDOWTEXT);
    }
}

namespace {

// Whether drawing `image` with `overlay` changes any pixel of it.
bool DrawsOverlay(HIMAGELIST images, int image, int overlay)
{
    int width = 0, height = 0;
    if (!ImageList_GetIconSize(images, &width, &height) || width <= 0 || height <= 0)
        return true;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP picture = dc ? CreateDIBSection(dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (!picture || !bits) {
        if (dc)
            DeleteDC(dc);
        return true;
    }
    HGDIOBJ previous = SelectObject(dc, picture);
    const DWORD* pixels = (const DWORD*)bits;
    std::vector<DWORD> drawn[2];
    for (int pass = 0; pass < 2; ++pass) {
        PatBlt(dc, 0, 0, width, height, WHITENESS);
        ImageList_Draw(images, image, dc, 0, 0, ILD_TRANSPARENT | (pass ? INDEXTOOVERLAYMASK(overlay) : 0));
        GdiFlush();
        drawn[pass].assign(pixels, pixels + width * height);
    }
    SelectObject(dc, previous);
    DeleteObject(picture);
    DeleteDC(dc);
    return drawn[0] != drawn[1];
}

} // namespace

void MarkedTreeSink::AddMarks()
{
    marksAdded_ = true;
    paintsMarks_ = false;
    HIMAGELIST images = tree_.Images().Handle();
    int overlay = 0;
    for (int change = DeviceComparison::Added; change < DeviceComparison::ChangeCount; ++change) {
        overlays_[change] = 0;
        images_[change] = tree_.AddIconResource(markIcons_[change]);
        if (images_[change] >= 0 && images && ImageList_SetOverlayImage(images, images_[change], overlay + 1))
            overlays_[change] = ++overlay;
    }
    // The model's first image (its default icon, with an alpha channel like
    // the class icons) with the first mark over it.
    if (overlay && tree_.ImageCount() > overlay)
        paintsMarks_ = !DrawsOverlay(images, 0, 1);
}

void MarkedTreeSink::OnImagesRecreated()
{
    HIMAGELIST images = tree_.Images().Handle();
    for (int change = DeviceComparison::Added; marksAdded_ && change < DeviceComparison::ChangeCount; ++change)
        if (overlays_[change] && images)
            ImageList_SetOverlayImage(images, images_[change], overlays_[change]);
}

void MarkedTreeSink::PaintMark(const NMTVCUSTOMDRAW* draw, DeviceComparison::Change change) const
{
    HIMAGELIST images = tree_.Images().Handle();
    int width = 0, height = 0;
    // TVM_GETITEMRECT takes the item in the rectangle it fills.
    RECT label = {};
    HTREEITEM item = (HTREEITEM)draw->nmcd.dwItemSpec;
    memcpy(&label, &item, sizeof item);
    if (!PaintsMarks() || change == DeviceComparison::Unchanged || images_[change] < 0 ||
        !ImageList_GetIconSize(images, &width, &height) ||
        !SendMessageW(draw->nmcd.hdr.hwndFrom, TVM_GETITEMRECT, TRUE, (LPARAM)&label))
        return;
    // The image stands just left of the label, centred on the row.
    ImageList_Draw(images, images_[change], draw->nmcd.hdc, label.left - width,
                   label.top + (label.bottom - label.top - height) / 2, ILD_TRANSPARENT);
}

void MarkedTreeSink::SetRedraw(bool on)
{
    tree_.SetRedraw(on);
}

void MarkedTreeSink::DeleteAllItems()
{
    tree_.DeleteAllItems();
}

void MarkedTreeSink::RemoveAllImages()
{
    tree_.RemoveAllImages();
    marksAdded_ = false;
}

int MarkedTreeSink::ImageCount() const
{
    return tree_.ImageCount();
}

int MarkedTreeSink::AddIconResource(int id)
{
    return tree_.AddIconResource(id);
}

int MarkedTreeSink::AddIcon(HICON icon)
{
    return tree_.AddIcon(icon);
}

HTREEITEM MarkedTreeSink::InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text, int image,
                                     int selectedImage, int children, LPARAM param, UINT state)
{
    // The model adds its images before the first item: the marks follow.
    if (!marksAdded_)
        AddMarks();
    const DeviceNode* node = (const DeviceNode*)param;
    if (comparison_ && node) {
        int overlay = overlays_[comparison_->ChangeOf(node->devnode)];
        if (overlay)
            state |= INDEXTOOVERLAYMASK(overlay);
    }
    return tree_.InsertItem(parent, insertAfter, text, image, selectedImage, children, param, state);
}

bool MarkedTreeSink::SetItemChildren(HTREEITEM item, int children)
{
    return tree_.SetItemChildren(item, children);
}

bool MarkedTreeSink::Expand(HTREEITEM item, UINT action)
{
    return tree_.Expand(item, action);
}
