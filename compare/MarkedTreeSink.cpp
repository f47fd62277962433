#include "compare/MarkedTreeSink.h"

#include "devices/DeviceNode.h"
#include "ui/TreeViewControl.h"

#include <commctrl.h>

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

void MarkedTreeSink::AddMarks()
{
    marksAdded_ = true;
    HIMAGELIST images = tree_.Images().Handle();
    int overlay = 0;
    for (int change = DeviceComparison::Added; change < DeviceComparison::ChangeCount; ++change) {
        overlays_[change] = 0;
        int image = tree_.AddIconResource(markIcons_[change]);
        if (image >= 0 && images && ImageList_SetOverlayImage(images, image, overlay + 1))
            overlays_[change] = ++overlay;
    }
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
