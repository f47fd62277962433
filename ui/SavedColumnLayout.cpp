#include "ui/SavedColumnLayout.h"
#include "services/RegistryKey.h"

#include <stdlib.h>

SavedColumnLayout::SavedColumnLayout(int count)
{
    if (count < 1 || count > MaximumColumns)
        return;
    block_ = (DWORD*)calloc((size_t)count * 2, sizeof(DWORD));
    if (block_)
        count_ = count;
}

SavedColumnLayout::~SavedColumnLayout()
{
    free(block_);
}

int SavedColumnLayout::IsSensible(const DWORD* block, int count)
{
    if (!block || count < 1 || count > MaximumColumns)
        return 0;
    bool seen[MaximumColumns] = {};
    for (int i = 0; i < count; ++i) {
        DWORD column = block[i];
        if (column >= (DWORD)count || seen[column])
            return 0;
        seen[column] = true;
        if (block[count + i] > (DWORD)MaximumStoredWidth)
            return 0;
    }
    return 1;
}

int SavedColumnLayout::Save(HKEY root, const wchar_t* path, const wchar_t* valueName) const
{
    if (!count_)
        return 0;
    RegistryKey key;
    return key.CreateWrite(root, path) &&
           key.WriteBlock(valueName, block_, (DWORD)count_ * 2 * sizeof(DWORD), REG_BINARY);
}

int SavedColumnLayout::Load(HKEY root, const wchar_t* path, const wchar_t* valueName)
{
    if (!count_)
        return 0;
    RegistryKey key;
    return key.OpenRead(root, path) && key.ReadBlock(valueName, block_, (DWORD)count_ * 2 * sizeof(DWORD));
}
