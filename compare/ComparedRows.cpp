#include "compare/ComparedRows.h"

#include <map>
#include <tuple>

namespace {

typedef std::tuple<int, std::wstring, std::wstring> RowName;

RowName NameOf(const ListRow& row)
{
    return RowName(row.group, row.key, row.keyDetails);
}

bool IsHandleRow(const ListRow& row)
{
    return row.key == L"DevInstance" && row.keyDetails.empty();
}

} // namespace

int RowRecorder::InsertItem(int index, int image, const wchar_t* text, LPARAM param, int groupId)
{
    ListRow row;
    row.group = groupId;
    row.key = text ? text : L"";
    rows.push_back(row);
    return (int)rows.size() - 1;
}

bool RowRecorder::SetItemText(int item, int column, const wchar_t* text)
{
    if (item < 0 || item >= (int)rows.size())
        return false;
    std::wstring* cells[] = {&rows[item].key, &rows[item].keyDetails, &rows[item].value,
                             &rows[item].valueDetails};
    if (column < 0 || column > 3)
        return false;
    *cells[column] = text ? text : L"";
    return true;
}

void CompareRows(const std::vector<ListRow>& before, const std::vector<ListRow>& now,
                 std::vector<ComparedRow>& compared)
{
    compared.clear();
    compared.reserve(now.size() + 4);
    // The rows before of each name, in order, and how many are taken.
    std::map<RowName, std::vector<size_t>> beforeByName;
    for (size_t i = 0; i < before.size(); ++i)
        beforeByName[NameOf(before[i])].push_back(i);
    std::map<RowName, size_t> taken;
    std::vector<char> paired(before.size(), 0);
    for (const ListRow& row : now) {
        ComparedRow entry;
        entry.row = row;
        RowName name = NameOf(row);
        auto found = beforeByName.find(name);
        size_t& next = taken[name];
        if (found != beforeByName.end() && next < found->second.size()) {
            const ListRow& was = before[found->second[next]];
            paired[found->second[next]] = 1;
            ++next;
            entry.beforeValue = was.value;
            entry.beforeDetails = was.valueDetails;
            entry.differs = !IsHandleRow(row) && (was.value != row.value || was.valueDetails != row.valueDetails);
        } else {
            entry.presence = ComparedRow::OnlyNow;
            entry.differs = true;
        }
        compared.push_back(std::move(entry));
    }
    for (size_t i = 0; i < before.size(); ++i) {
        if (paired[i])
            continue;
        ComparedRow entry;
        entry.row = before[i];
        entry.row.value.clear();
        entry.row.valueDetails.clear();
        entry.beforeValue = before[i].value;
        entry.beforeDetails = before[i].valueDetails;
        entry.presence = ComparedRow::OnlyBefore;
        entry.differs = true;
        compared.push_back(std::move(entry));
    }
}
