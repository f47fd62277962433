#include "update/ArchiveInstall.h"

#include "update/InstallPath.h"
#include "update/ProgramImage.h"
#include "update/UpdateRules.h"
#include "update/UpdateSteps.h"
#include "update/ZipArchive.h"

#include <new>
#include <stdlib.h>

namespace {

int CompareNames(const void* a, const void* b)
{
    const wchar_t* left = *(const wchar_t* const*)a;
    const wchar_t* right = *(const wchar_t* const*)b;
    return CompareStringOrdinal(left, -1, right, -1, TRUE) - CSTR_EQUAL;
}

// Two members that name one file (the file system ignores case) make an
// archive ambiguous.
bool HasDuplicates(const WideString* names, int count)
{
    const wchar_t** sorted = (const wchar_t**)malloc(sizeof(const wchar_t*) * (count ? count : 1));
    if (!sorted)
        return true;
    for (int i = 0; i < count; ++i)
        sorted[i] = names[i].Text();
    qsort(sorted, (size_t)count, sizeof sorted[0], &CompareNames);
    bool duplicate = false;
    for (int i = 1; i < count && !duplicate; ++i)
        duplicate = CompareNames(&sorted[i - 1], &sorted[i]) == 0;
    free(sorted);
    return duplicate;
}

// Shared for deletion only: an installation that is let go of removes its
// working files while a member may still be written.
class WriteHandle {
public:
    explicit WriteHandle(const wchar_t* path)
        : handle_(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr))
    {
    }
    ~WriteHandle() { Close(); }
    WriteHandle(const WriteHandle&) = delete;
    WriteHandle& operator=(const WriteHandle&) = delete;
    HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    int Close()
    {
        int ok = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};

// The "_old" name of `target` when it is the member that keeps a copy.
int KeptCopy(const wchar_t* relative, const wchar_t* keptName, const wchar_t* directory,
             WideString& oldCopy)
{
    WideString kept, suffixed;
    if (!keptName || !MakeSafeRelativePath(keptName, kept) ||
        CompareStringOrdinal(kept.Text(), -1, relative, -1, TRUE) != CSTR_EQUAL)
        return 0;
    return InsertBeforeExtension(relative, L"_old", suffixed) &&
           JoinInside(directory, suffixed.Text(), oldCopy);
}

} // namespace

// Every member is checked and written to a working file beside its target
// before any rename is planned.
int StageArchive(const wchar_t* archive, const wchar_t* directory, const wchar_t* keptName,
                 FileJournal& journal)
{
    ZipArchive zip;
    if (!zip.Open(archive))
        return 0;
    int count = zip.Count();
    WideString* targets = new (std::nothrow) WideString[count ? count : 1];
    WideString* relatives = new (std::nothrow) WideString[count ? count : 1];
    int ok = targets && relatives;
    for (int i = 0; ok && i < count; ++i) {
        bool isDirectory = false;
        ok = MakeSafeRelativePath(zip.Entry(i).name.Text(), relatives[i], &isDirectory) &&
             isDirectory == zip.Entry(i).directory &&
             JoinInside(directory, relatives[i].Text(), targets[i]);
    }
    ok = ok && !HasDuplicates(targets, count);
    for (int i = 0; ok && i < count; ++i) {
        UpdateStep(L"extract %s", relatives[i].Text());
        if (zip.Entry(i).directory) {
            ok = journal.CreateDirectories(targets[i].Text());
            continue;
        }
        WideString staged, oldCopy;
        ok = !IsDirectory(targets[i].Text()) && journal.CreateParents(targets[i].Text()) &&
             journal.CreateScratchBeside(targets[i].Text(), staged);
        if (!ok)
            break;
        WriteHandle out(staged.Text());
        ok = out.IsOpen() && zip.Extract(i, out.Get()) && out.Close() &&
             FitsThisProcessor(staged.Text());
        bool kept = ok && KeptCopy(relatives[i].Text(), keptName, directory, oldCopy);
        ok = ok && journal.PlanReplace(staged.Text(), targets[i].Text(),
                                       kept ? oldCopy.Text() : nullptr);
    }
    delete[] targets;
    delete[] relatives;
    return ok;
}
