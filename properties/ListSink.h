#pragma once

#include <windows.h>

// The operations through which the property list is filled. The list view
// wrapper implements them; tests record them.
class ListSink {
public:
    virtual ~ListSink() = default;

    // With `keepSort` the sort column and direction survive.
    virtual void DeleteAllItems(bool keepSort) = 0;
    // Nests: redrawing resumes when the outermost suspension ends.
    virtual void SetRedraw(bool on) = 0;
    // Returns the new item's index, or -1.
    virtual int InsertItem(int index, int image, const wchar_t* text, LPARAM param,
                           int groupId) = 0;
    virtual bool SetItemText(int item, int column, const wchar_t* text) = 0;
    // Sorts again by the current column and direction.
    virtual void Resort() = 0;
};
