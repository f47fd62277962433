#include "common/RecordingListSink.h"

#include <algorithm>

void RecordingListSink::DeleteAllItems(bool keepSort)
{
    calls.push_back("delete-all");
    keptSort = keepSort;
    rows.clear();
}

void RecordingListSink::SetRedraw(bool on)
{
    calls.push_back(on ? "redraw-on" : "redraw-off");
    if (on && redrawDepth > 0)
        --redrawDepth;
    else if (!on)
        ++redrawDepth;
}

int RecordingListSink::InsertItem(int index, int image, const wchar_t* text, LPARAM param,
                                  int groupId)
{
    if (calls.empty() || calls.back() != "insert")
        calls.push_back("insert");
    Row row;
    row.cells[0] = text ? text : L"";
    row.image = image;
    row.param = param;
    row.group = groupId;
    if (index < 0 || index >= (int)rows.size())
        index = (int)rows.size();
    rows.insert(rows.begin() + index, row);
    return index;
}

bool RecordingListSink::SetItemText(int item, int column, const wchar_t* text)
{
    if (item < 0 || item >= (int)rows.size() || column < 0 || column > 3)
        return false;
    rows[item].cells[column] = text ? text : L"";
    return true;
}

void RecordingListSink::Resort()
{
    calls.push_back("resort");
}

std::vector<RecordingListSink::Row> RecordingListSink::Group(int group) const
{
    std::vector<Row> out;
    for (const Row& row : rows)
        if (row.group == group)
            out.push_back(row);
    return out;
}

const RecordingListSink::Row* RecordingListSink::Find(const std::wstring& key) const
{
    for (const Row& row : rows)
        if (row.cells[0] == key)
            return &row;
    return nullptr;
}

std::vector<int> RecordingListSink::GroupOrder() const
{
    std::vector<int> order;
    for (const Row& row : rows)
        if (std::find(order.begin(), order.end(), row.group) == order.end())
            order.push_back(row.group);
    return order;
}
