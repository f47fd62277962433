#include "ControlRecording.h"

double NowMs()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

const char* OperationName(int kind)
{
    static const char* const names[OperationKinds] = {
        "redraw switches and final repaint", "delete all items", "remove all images",
        "default icon added", "class icons added", "insertions", "child flags", "expansions",
        "cell texts", "sort"};
    return kind >= 0 && kind < OperationKinds ? names[kind] : "?";
}

double ControlTime::Total() const
{
    double total = 0;
    for (double part : ms)
        total += part;
    return total;
}

void ControlTime::Add(int kind, double elapsed)
{
    ms[kind] += elapsed;
    ++calls[kind];
}

namespace {

// Times one call into a control.
class Timed {
public:
    Timed(ControlTime& time, int kind) : time_(time), kind_(kind), start_(NowMs()) {}
    ~Timed() { time_.Add(kind_, NowMs() - start_); }

private:
    ControlTime& time_;
    int kind_;
    double start_;
};

} // namespace

TreeRecorder::~TreeRecorder()
{
    Forget();
}

void DestroyIcons(std::vector<TreeOperation>& operations)
{
    for (TreeOperation& operation : operations)
        if (operation.icon)
            DestroyIcon(operation.icon);
    operations.clear();
}

void TreeRecorder::Forget()
{
    DestroyIcons(operations_);
}

std::vector<TreeOperation> TreeRecorder::TakeOperations()
{
    std::vector<TreeOperation> taken;
    taken.swap(operations_);
    return taken;
}

void TreeRecorder::StartRecording()
{
    Forget();
    recording_ = true;
}

int TreeRecorder::Count(int kind) const
{
    int count = 0;
    for (const TreeOperation& operation : operations_)
        count += operation.kind == kind;
    return count;
}

int TreeRecorder::IndexOf(HTREEITEM item) const
{
    auto found = items_.find(item);
    return found == items_.end() ? -1 : found->second;
}

void TreeRecorder::Note(int kind, int value)
{
    if (!recording_)
        return;
    TreeOperation operation;
    operation.kind = kind;
    operation.value = value;
    operations_.push_back(operation);
}

void TreeRecorder::SetRedraw(bool on)
{
    Note(OpRedraw, on);
    Timed timed(time, OpRedraw);
    if (target_)
        target_->SetRedraw(on);
}

void TreeRecorder::DeleteAllItems()
{
    Note(OpDeleteAll, 0);
    items_.clear();
    insertedItems_ = 0;
    Timed timed(time, OpDeleteAll);
    if (target_)
        target_->DeleteAllItems();
}

void TreeRecorder::RemoveAllImages()
{
    Note(OpRemoveImages, 0);
    Timed timed(time, OpRemoveImages);
    fakeImages_ = 0;
    if (target_)
        target_->RemoveAllImages();
}

int TreeRecorder::AddIconResource(int id)
{
    Note(OpAddIconResource, id);
    Timed timed(time, OpAddIconResource);
    return target_ ? target_->AddIconResource(id) : fakeImages_++;
}

int TreeRecorder::AddIcon(HICON icon)
{
    Note(OpAddIcon, 0);
    // A copy: the recording outlives the model's icons.
    if (recording_)
        operations_.back().icon = CopyIcon(icon);
    Timed timed(time, OpAddIcon);
    return target_ ? target_->AddIcon(icon) : fakeImages_++;
}

HTREEITEM TreeRecorder::InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text,
                                   int image, int selectedImage, int children, LPARAM param,
                                   UINT state)
{
    HTREEITEM item;
    {
        Timed timed(time, OpInsert);
        item = target_ ? target_->InsertItem(parent, insertAfter, text, image, selectedImage,
                                             children, param, state)
                       : (HTREEITEM)++fakeHandle_;
    }
    if (recording_) {
        Note(OpInsert, parent == TVI_ROOT ? -1 : IndexOf(parent));
        TreeOperation& operation = operations_.back();
        operation.image = image;
        operation.selected = selectedImage;
        operation.children = children;
        operation.state = state;
        operation.text = text ? text : L"";
        items_[item] = insertedItems_++;
    }
    return item;
}

bool TreeRecorder::SetItemChildren(HTREEITEM item, int children)
{
    Note(OpSetChildren, IndexOf(item));
    if (recording_)
        operations_.back().children = children;
    Timed timed(time, OpSetChildren);
    return target_ ? target_->SetItemChildren(item, children) : true;
}

bool TreeRecorder::Expand(HTREEITEM item, UINT action)
{
    Note(OpExpand, IndexOf(item));
    if (recording_)
        operations_.back().action = action;
    Timed timed(time, OpExpand);
    return target_ ? target_->Expand(item, action) : true;
}

void ReplayTree(TreeSink& tree, const std::vector<TreeOperation>& operations, ControlTime& time)
{
    std::vector<HTREEITEM> items;
    items.reserve(operations.size());
    for (const TreeOperation& operation : operations) {
        double start = NowMs();
        switch (operation.kind) {
        case OpRedraw:
            tree.SetRedraw(operation.value != 0);
            break;
        case OpDeleteAll:
            tree.DeleteAllItems();
            items.clear();
            break;
        case OpRemoveImages:
            tree.RemoveAllImages();
            break;
        case OpAddIconResource:
            tree.AddIconResource(operation.value);
            break;
        case OpAddIcon:
            tree.AddIcon(operation.icon);
            break;
        case OpInsert:
            items.push_back(tree.InsertItem(operation.value < 0 ? TVI_ROOT : items[operation.value],
                                            TVI_LAST, operation.text.c_str(), operation.image,
                                            operation.selected, operation.children, 0,
                                            operation.state));
            break;
        case OpSetChildren:
            tree.SetItemChildren(items[operation.value], operation.children);
            break;
        case OpExpand:
            tree.Expand(items[operation.value], operation.action);
            break;
        }
        time.Add(operation.kind, NowMs() - start);
    }
}

int ListRecorder::Rows() const
{
    int rows = 0;
    for (const ListOperation& operation : operations_)
        rows += operation.kind == OpInsert;
    return rows;
}

void ListRecorder::Note(int kind, int value, int item, const wchar_t* text)
{
    if (!recording_)
        return;
    ListOperation operation;
    operation.kind = kind;
    operation.value = value;
    operation.item = item;
    operation.text = text ? text : L"";
    operations_.push_back(operation);
}

void ListRecorder::DeleteAllItems(bool keepSort)
{
    Note(OpDeleteAll, keepSort, 0, nullptr);
    Timed timed(time, OpDeleteAll);
    target_.DeleteAllItems(keepSort);
}

void ListRecorder::SetRedraw(bool on)
{
    Note(OpRedraw, on, 0, nullptr);
    Timed timed(time, OpRedraw);
    target_.SetRedraw(on);
}

int ListRecorder::InsertItem(int index, int image, const wchar_t* text, LPARAM param, int groupId)
{
    Note(OpInsert, groupId, index, text);
    if (recording_) {
        operations_.back().image = image;
        operations_.back().param = param;
    }
    Timed timed(time, OpInsert);
    return target_.InsertItem(index, image, text, param, groupId);
}

bool ListRecorder::SetItemText(int item, int column, const wchar_t* text)
{
    Note(OpSetText, column, item, text);
    Timed timed(time, OpSetText);
    return target_.SetItemText(item, column, text);
}

void ListRecorder::Resort()
{
    Note(OpResort, 0, 0, nullptr);
    Timed timed(time, OpResort);
    target_.Resort();
}

void ReplayList(ListSink& list, const std::vector<ListOperation>& operations, ControlTime& time)
{
    for (const ListOperation& operation : operations) {
        double start = NowMs();
        switch (operation.kind) {
        case OpDeleteAll:
            list.DeleteAllItems(operation.value != 0);
            break;
        case OpRedraw:
            list.SetRedraw(operation.value != 0);
            break;
        case OpInsert:
            list.InsertItem(operation.item, operation.image, operation.text.c_str(),
                            operation.param, operation.value);
            break;
        case OpSetText:
            list.SetItemText(operation.item, operation.value, operation.text.c_str());
            break;
        case OpResort:
            list.Resort();
            break;
        }
        time.Add(operation.kind, NowMs() - start);
    }
}
