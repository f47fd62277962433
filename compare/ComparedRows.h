#pragma once

#include <string>
#include <vector>

#include "properties/ListSink.h"

// One row of the property list as its texts.
struct ListRow {
    int group = 0;
    std::wstring key;
    std::wstring keyDetails;
    std::wstring value;
    std::wstring valueDetails;
};

// Keeps the rows a property list fill gives, instead of showing them.
class RowRecorder : public ListSink {
public:
    std::vector<ListRow> rows;

    void DeleteAllItems(bool keepSort) override { rows.clear(); }
    void SetRedraw(bool on) override {}
    int InsertItem(int index, int image, const wchar_t* text, LPARAM param, int groupId) override;
    bool SetItemText(int item, int column, const wchar_t* text) override;
    void Resort() override {}
};

// A row of a device at two moments: the row now (its texts) and the value
// it had before.
struct ComparedRow {
    enum Presence {
        Both,
        OnlyNow,
        OnlyBefore, // the row's value now is empty
    };
    ListRow row; // value and details now
    std::wstring beforeValue;
    std::wstring beforeDetails;
    Presence presence = Both;
    // Marked in the list: the value or its details differ, or the row is on
    // one side only.
    bool differs = false;
};

// Pairs the rows of one device before and now by group, key and key
// details (the n-th row of a name with the n-th), in the order of the rows
// now, then the rows only before in their order. The devnode handle is a
// moment's number, not the device's state: its row pairs and shows both
// values, but is never marked.
void CompareRows(const std::vector<ListRow>& before, const std::vector<ListRow>& now,
                 std::vector<ComparedRow>& compared);
