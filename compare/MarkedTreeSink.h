#pragma once

#include "compare/DeviceComparison.h"
#include "devices/TreeSink.h"

class TreeViewControl;

// The tree of a comparison: passes the device model's operations on to the
// tree control and marks each device that was added, removed or changed
// with an overlay image of its own (drawn over its class icon), so that the
// marks are told apart without colour. The mark images are added behind
// the model's images, once for every time the model empties the list.
class MarkedTreeSink : public TreeSink {
public:
    // `markIcons` holds, by DeviceComparison::Change, the icon resource of
    // each mark (the one for Unchanged is not used).
    MarkedTreeSink(TreeViewControl& tree, const int (&markIcons)[DeviceComparison::ChangeCount]);

    // The comparison whose marks are shown; nullptr shows none.
    void Show(const DeviceComparison* comparison) { comparison_ = comparison; }

    // The overlay index (1 to 15) of a change's mark, or 0 when it has none.
    int OverlayOf(DeviceComparison::Change change) const;
    // The text colour of a device with that change on the window's
    // background: a high-contrast scheme allows only its own colours, so
    // there each change takes another of the scheme's text colours.
    static COLORREF TextColour(DeviceComparison::Change change, bool highContrast);

    // Whether the marks must be painted over the items after the control
    // has drawn them: where the platform draws no overlay over an image
    // with an alpha channel (Wine), as found by drawing one when the marks
    // were added.
    bool PaintsMarks() const { return marksAdded_ && paintsMarks_; }
    // Paints `change`'s mark over the image of the item `draw` has drawn
    // (its CDDS_ITEMPOSTPAINT).
    void PaintMark(const NMTVCUSTOMDRAW* draw, DeviceComparison::Change change) const;
    // The tree's image list was made anew (at another DPI) with the same
    // images: the marks are made its overlays again.
    void OnImagesRecreated();

    void SetRedraw(bool on) override;
    void DeleteAllItems() override;
    void RemoveAllImages() override;
    int ImageCount() const override;
    int AddIconResource(int id) override;
    int AddIcon(HICON icon) override;
    HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text, int image,
                         int selectedImage, int children, LPARAM param, UINT state) override;
    bool SetItemChildren(HTREEITEM item, int children) override;
    bool Expand(HTREEITEM item, UINT action) override;

private:
    void AddMarks();

    TreeViewControl& tree_;
    int markIcons_[DeviceComparison::ChangeCount];
    int overlays_[DeviceComparison::ChangeCount] = {};
    int images_[DeviceComparison::ChangeCount] = {};
    bool marksAdded_ = false;
    bool paintsMarks_ = false;
    const DeviceComparison* comparison_ = nullptr;
};
