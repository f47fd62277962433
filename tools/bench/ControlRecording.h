#pragma once

// What the device model asks of its tree and list controls, recorded so that
// exactly those operations can be replayed into the controls without the
// model: the baseline of every figure of the model benchmark.

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "devices/TreeSink.h"
#include "properties/ListSink.h"

double NowMs();

// The kinds of control operation, for the time spent in each.
enum OperationKind {
    OpRedraw,
    OpDeleteAll,
    OpRemoveImages,
    OpAddIconResource,
    OpAddIcon,
    OpInsert,
    OpSetChildren,
    OpExpand,
    OpSetText,
    OpResort,
    OperationKinds
};
const char* OperationName(int kind);

// Milliseconds and calls per kind of operation.
struct ControlTime {
    double ms[OperationKinds] = {};
    int calls[OperationKinds] = {};
    double machine = 0; // device calls made again beside the controls' (not in Total)

    double Total() const;
    void Add(int kind, double elapsed);
};

struct TreeOperation {
    int kind = OpInsert;
    int value = 0;     // Redraw: on; AddIconResource: id; Insert: parent (-1 root); others: item
    int image = 0;     // Insert
    int selected = 0;  // Insert
    int children = 0;  // Insert, SetChildren
    UINT action = 0;   // Expand
    UINT state = 0;    // Insert
    HICON icon = nullptr; // AddIcon: a copy owned by the recording
    std::wstring text; // Insert
};

// Forwards every call to the real control (or, without one, answers like a
// control that does nothing), adds up the time spent inside the control and,
// while recording, keeps every operation with its arguments.
class TreeRecorder : public TreeSink {
public:
    explicit TreeRecorder(TreeSink* target) : target_(target) {}
    ~TreeRecorder() override;

    void StartRecording();
    void StopRecording() { recording_ = false; }
    const std::vector<TreeOperation>& Operations() const { return operations_; }
    // Hands the operations, and the icons in them, to the caller
    // (DestroyIcons when done).
    std::vector<TreeOperation> TakeOperations();
    int Count(int kind) const;
    ControlTime time;

    void SetRedraw(bool on) override;
    void DeleteAllItems() override;
    void RemoveAllImages() override;
    int ImageCount() const override { return target_ ? target_->ImageCount() : fakeImages_; }
    int AddIconResource(int id) override;
    int AddIcon(HICON icon) override;
    HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text, int image,
                         int selectedImage, int children, LPARAM param, UINT state) override;
    bool SetItemChildren(HTREEITEM item, int children) override;
    bool Expand(HTREEITEM item, UINT action) override;

private:
    // Keeps an operation while recording.
    void Note(int kind, int value);
    int IndexOf(HTREEITEM item) const;
    void Forget();

    TreeSink* target_;
    bool recording_ = false;
    std::vector<TreeOperation> operations_;
    std::unordered_map<HTREEITEM, int> items_;
    int insertedItems_ = 0;
    INT_PTR fakeHandle_ = 0;
    int fakeImages_ = 0;
};

void DestroyIcons(std::vector<TreeOperation>& operations);

// The recorded operations sent to `tree` again, in order, with the same
// arguments; the time of each kind of operation goes into `time`.
void ReplayTree(TreeSink& tree, const std::vector<TreeOperation>& operations, ControlTime& time);

struct ListOperation {
    int kind = OpInsert;
    int value = 0; // DeleteAll: keep sort; Redraw: on; Insert: group; SetText: column
    int item = 0;  // Insert: position; SetText: the item
    int image = 0;
    LPARAM param = 0;
    std::wstring text;
};

class ListRecorder : public ListSink {
public:
    explicit ListRecorder(ListSink& target) : target_(target) {}
    void StartRecording() { recording_ = true; operations_.clear(); }
    void StopRecording() { recording_ = false; }
    const std::vector<ListOperation>& Operations() const { return operations_; }
    int Rows() const;
    ControlTime time;

    void DeleteAllItems(bool keepSort) override;
    void SetRedraw(bool on) override;
    int InsertItem(int index, int image, const wchar_t* text, LPARAM param, int groupId) override;
    bool SetItemText(int item, int column, const wchar_t* text) override;
    void Resort() override;

private:
    void Note(int kind, int value, int item, const wchar_t* text);
    ListSink& target_;
    bool recording_ = false;
    std::vector<ListOperation> operations_;
};

void ReplayList(ListSink& list, const std::vector<ListOperation>& operations, ControlTime& time);
