#include "common/RecordingTreeSink.h"
#include "common/ReferenceData.h"

void RecordingTreeSink::SetRedraw(bool on)
{
    calls.push_back(on ? "redraw-on" : "redraw-off");
    if (on) {
        if (redrawDepth > 0)
            --redrawDepth;
    } else {
        ++redrawDepth;
        ++redrawOffCount;
    }
}

void RecordingTreeSink::DeleteAllItems()
{
    calls.push_back("delete-all");
    roots_.clear();
    all_.clear();
}

void RecordingTreeSink::RemoveAllImages()
{
    calls.push_back("remove-images");
    images_ = 0;
    identities_.clear();
}

int RecordingTreeSink::AddIconResource(int id)
{
    calls.push_back("add-icon-resource");
    lastIconResource = id;
    identities_.push_back("resource:" + std::to_string(id));
    return images_++;
}

int RecordingTreeSink::AddIcon(HICON icon)
{
    if (!icon)
        return -1;
    identities_.push_back(ReferenceData::IconIdentity(icon));
    return images_++;
}

HTREEITEM RecordingTreeSink::InsertItem(HTREEITEM parent, HTREEITEM insertAfter,
                                        const wchar_t* text, int image, int selectedImage,
                                        int children, LPARAM param, UINT state)
{
    std::unique_ptr<Item> item(new Item);
    item->text = text ? text : L"";
    item->image = image;
    item->selectedImage = selectedImage;
    item->children = children;
    item->param = param;
    item->expanded = (state & TVIS_EXPANDED) != 0;
    Item* raw = item.get();
    if (parent == TVI_ROOT || parent == nullptr) {
        roots_.push_back(raw);
    } else {
        Item* p = (Item*)parent;
        raw->parent = p;
        p->items.push_back(raw);
    }
    all_.push_back(std::move(item));
    return (HTREEITEM)raw;
}

bool RecordingTreeSink::SetItemChildren(HTREEITEM item, int children)
{
    ((Item*)item)->children = children;
    return true;
}

bool RecordingTreeSink::Expand(HTREEITEM item, UINT action)
{
    if (action == TVE_EXPAND)
        ((Item*)item)->expanded = true;
    return true;
}

namespace {

void Walk(const RecordingTreeSink::Item* item, const std::wstring& prefix,
          std::vector<std::wstring>& out)
{
    std::wstring path = prefix.empty() ? item->text : prefix + L"/" + item->text;
    out.push_back(path);
    for (const RecordingTreeSink::Item* child : item->items)
        Walk(child, path, out);
}

} // namespace

std::vector<std::wstring> RecordingTreeSink::Paths() const
{
    std::vector<std::wstring> out;
    for (const Item* root : roots_)
        Walk(root, L"", out);
    return out;
}

const RecordingTreeSink::Item* RecordingTreeSink::Find(const std::wstring& text) const
{
    for (const auto& item : all_)
        if (item->text == text)
            return item.get();
    return nullptr;
}

std::string RecordingTreeSink::ImageIdentity(int index) const
{
    return index >= 0 && index < (int)identities_.size() ? identities_[index] : "none";
}
