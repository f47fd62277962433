#pragma once

#include <windows.h>

#include <string>

// The platform calls with which a snapshot is written; tests replace them
// (a disk that fills up, say).
struct SnapshotFileCalls {
    HANDLE(WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* FlushFileBuffers)(HANDLE);
    BOOL(WINAPI* MoveFileExW)(LPCWSTR, LPCWSTR, DWORD);
};
const SnapshotFileCalls& SystemSnapshotFileCalls();

// Writes `text` to `path` whole or not at all: into a new file beside it,
// flushed, then renamed onto `path` (replacing a file of that name only
// then). On failure no file is left and `error` holds the system's code.
[[nodiscard]] int SaveSnapshotText(const wchar_t* path, const std::string& text, DWORD* error,
                     const SnapshotFileCalls& calls = SystemSnapshotFileCalls());
