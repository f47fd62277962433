#include "update/ArchiveInstall.h"

#include "update/InstallPath.h"
#include "update/ProgramImage.h"
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

class WriteHandle {
public:
    explicit WriteHandle(const wchar_t* path)
        : handle_(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
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

} // namespace

// Every member is checked and written to a temporary file beside its target
// before any target is touched; only then do the members take their places.
// A program or library built for another processor fails the archive.
int InstallArchive(const wchar_t* archive, const wchar_t* directory, FileJournal& journal)
{
    ZipArchive zip;
    if (!zip.Open(archive))
        return 0;
    int count = zip.Count();
    WideString* targets = new (std::nothrow) WideString[count ? count : 1];
    WideString* staged = new (std::nothrow) WideString[count ? count : 1];
    int ok = targets && staged;
    for (int i = 0; ok && i < count; ++i) {
        WideString relative;
        bool isDirectory = false;
        ok = MakeSafeRelativePath(zip.Entry(i).name.Text(), relative, &isDirectory) &&
             isDirectory == zip.Entry(i).directory &&
             JoinInside(directory, relative.Text(), targets[i]);
    }
    ok = ok && !HasDuplicates(targets, count);
    for (int i = 0; ok && i < count; ++i) {
        if (zip.Entry(i).directory) {
            ok = journal.CreateDirectories(targets[i].Text());
            continue;
        }
        ok = !IsDirectory(targets[i].Text()) && journal.CreateParents(targets[i].Text()) &&
             CreateTemporaryBeside(targets[i].Text(), staged[i]) &&
             journal.Scratch(staged[i].Text());
        if (!ok)
            break;
        WriteHandle out(staged[i].Text());
        ok = out.IsOpen() && zip.Extract(i, out.Get()) && out.Close() &&
             FitsThisProcessor(staged[i].Text());
    }
    for (int i = 0; ok && i < count; ++i) {
        if (zip.Entry(i).directory)
            continue;
        const wchar_t* target = targets[i].Text();
        ok = !IsDirectory(target) && (!PathExists(target) || journal.MoveAside(target)) &&
             journal.Move(staged[i].Text(), target);
    }
    delete[] targets;
    delete[] staged;
    return ok;
}
