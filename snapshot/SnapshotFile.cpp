#include "snapshot/SnapshotFile.h"

#include "services/FileSystem.h"

namespace {

// Large writes in pieces: a network share may refuse one huge write.
const DWORD LargestWrite = 1u << 20;

const SnapshotFileCalls SystemCalls = {::CreateFileW, ::WriteFile, ::FlushFileBuffers, ::MoveFileExW};

DWORD LastErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error ? error : fallback;
}

} // namespace

const SnapshotFileCalls& SystemSnapshotFileCalls()
{
    return SystemCalls;
}

int SaveSnapshotText(const wchar_t* path, const std::string& text, DWORD* error,
                     const SnapshotFileCalls& calls)
{
    DWORD ignored = 0;
    if (!error)
        error = &ignored;
    *error = ERROR_SUCCESS;
    // Windows refuses to rename onto a read-only file; Wine does not, and
    // a file the user protected stays as it is on both.
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        *error = ERROR_ACCESS_DENIED;
        return 0;
    }
    WideString temporary;
    if (!CreateTemporaryBeside(path, temporary)) {
        *error = LastErrorOr(ERROR_CANNOT_MAKE);
        return 0;
    }
    HANDLE file = calls.CreateFileW(temporary.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = file != INVALID_HANDLE_VALUE;
    for (size_t at = 0; written && at < text.size();) {
        DWORD piece = text.size() - at < LargestWrite ? (DWORD)(text.size() - at) : LargestWrite;
        DWORD wrote = 0;
        written = calls.WriteFile(file, text.data() + at, piece, &wrote, nullptr) && wrote == piece;
        if (!written && GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_WRITE_FAULT);
        at += piece;
    }
    written = written && calls.FlushFileBuffers(file);
    if (!written)
        *error = LastErrorOr(ERROR_WRITE_FAULT);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (written && !calls.MoveFileExW(temporary.Text(), path,
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = LastErrorOr(ERROR_WRITE_FAULT);
        written = false;
    }
    if (!written)
        RemoveFile(temporary.Text());
    return written ? 1 : 0;
}
