#pragma once

#include <windows.h>

// The user's column order and widths as they are kept between runs: one
// block of `count` column indexes in display order, then `count` widths in
// 96-DPI pixels, stored as a binary registry value.
class SavedColumnLayout {
public:
    static constexpr int MaximumColumns = 256;
    // Wider columns are taken for damage, not for a user's choice.
    static constexpr int MaximumStoredWidth = 10000;

    // Room for `count` columns; Count() is 0 when `count` is out of range
    // or memory runs out.
    explicit SavedColumnLayout(int count);
    ~SavedColumnLayout();
    SavedColumnLayout(const SavedColumnLayout&) = delete;
    SavedColumnLayout& operator=(const SavedColumnLayout&) = delete;

    int Count() const { return count_; }
    DWORD* Block() { return block_; }
    DWORD* Order() { return block_; }
    DWORD* Widths() { return block_ ? block_ + count_ : nullptr; }

    // A damaged value must not hide columns or give the header an order it
    // cannot show: every index exactly once, every width sensible.
    static int IsSensible(const DWORD* block, int count);

    int Save(HKEY root, const wchar_t* path, const wchar_t* valueName) const;
    // Succeeds only when the stored value has exactly the block's size.
    [[nodiscard]] int Load(HKEY root, const wchar_t* path, const wchar_t* valueName);

private:
    int count_ = 0;
    DWORD* block_ = nullptr;
};
