#pragma once

#include "properties/ListSink.h"

#include <string>
#include <vector>

// A list control stand-in that keeps the rows it is given and the calls made.
class RecordingListSink : public ListSink {
public:
    struct Row {
        std::wstring cells[4];
        int group = 0;
        int image = -1;
        LPARAM param = -1;
    };

    void DeleteAllItems(bool keepSort) override;
    void SetRedraw(bool on) override;
    int InsertItem(int index, int image, const wchar_t* text, LPARAM param, int groupId) override;
    bool SetItemText(int item, int column, const wchar_t* text) override;
    void Resort() override;

    // The rows of one group, in insertion order.
    std::vector<Row> Group(int group) const;
    const Row* Find(const std::wstring& key) const;
    // The group ids in the order their first row appeared.
    std::vector<int> GroupOrder() const;

    std::vector<Row> rows;
    std::vector<std::string> calls;
    int redrawDepth = 0;
    bool keptSort = false;
};
