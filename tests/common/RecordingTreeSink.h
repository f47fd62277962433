#pragma once

#include "devices/TreeSink.h"

#include <memory>
#include <string>
#include <vector>

// A tree control stand-in that keeps the items it is given and the order of
// the calls, so the model's use of the tree can be checked exactly.
class RecordingTreeSink : public TreeSink {
public:
    struct Item {
        Item* parent = nullptr;
        std::wstring text;
        int image = -1;
        int selectedImage = -1;
        int children = 0;
        LPARAM param = 0;
        bool expanded = false;
        std::vector<Item*> items;
    };

    void SetRedraw(bool on) override;
    void DeleteAllItems() override;
    void RemoveAllImages() override;
    int AddIconResource(int id) override;
    int AddIcon(HICON icon) override;
    HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text, int image,
                         int selectedImage, int children, LPARAM param, UINT state) override;
    bool SetItemChildren(HTREEITEM item, int children) override;
    bool Expand(HTREEITEM item, UINT action) override;

    const std::vector<Item*>& Roots() const { return roots_; }
    int ItemCount() const { return (int)all_.size(); }
    int ImageCount() const override { return images_; }
    // What image `index` shows: "resource:N", an icon's picture identity
    // (ReferenceData::IconIdentity), or "none" for an index never handed out.
    std::string ImageIdentity(int index) const;
    // "name" for a root, "parent/child" below; depth-first order.
    std::vector<std::wstring> Paths() const;
    const Item* Find(const std::wstring& text) const;

    std::vector<std::string> calls;
    int redrawDepth = 0;
    int redrawOffCount = 0;
    int lastIconResource = 0;

private:
    std::vector<std::unique_ptr<Item>> all_;
    std::vector<Item*> roots_;
    int images_ = 0;
    std::vector<std::string> identities_;
};
