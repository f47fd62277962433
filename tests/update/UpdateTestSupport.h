#pragma once

#include <windows.h>

#include <map>
#include <vector>
#include <string>

#include "common/FileBytes.h"
#include "update/ArchiveInstall.h"

// What a directory holds, recursively: relative path to bytes, with "<dir>"
// for a directory, so that two states compare with ==.
typedef std::map<std::wstring, std::string> DirectoryState;

inline std::string ReadBytes(const std::wstring& path)
{
    return ReadFileBytes(path.c_str());
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    return WriteFileBytes(path.c_str(), bytes);
}

inline void CollectState(const std::wstring& root, const std::wstring& relative, DirectoryState& state)
{
    WIN32_FIND_DATAW found;
    std::wstring base = relative.empty() ? root : root + L"\\" + relative;
    HANDLE search = FindFirstFileW((base + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            state[child] = "<dir>";
            CollectState(root, child, state);
        } else {
            state[child] = ReadBytes(root + L"\\" + child);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

inline DirectoryState StateOf(const std::wstring& directory)
{
    DirectoryState state;
    CollectState(directory, L"", state);
    return state;
}

// The names of a state, one a line, for failure messages.
inline std::string NamesOf(const DirectoryState& state)
{
    std::string names;
    for (const auto& entry : state)
        names += std::string(entry.first.begin(), entry.first.end()) + "\n";
    return names;
}

// The directory of the running test executable, with its trailing backslash.
inline std::wstring TestDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory = path;
    return directory.substr(0, directory.find_last_of(L'\\') + 1);
}

// An archive installed the way an update does it: staged in a journal begun
// in `directory`, then swapped in. The journal is left for the caller to
// finish or roll back.
inline int InstallArchive(const std::wstring& archive, const std::wstring& directory,
                          FileJournal& journal)
{
    return journal.Begin(directory.c_str()) &&
           StageArchive(archive.c_str(), directory.c_str(), nullptr, journal) && journal.Swap();
}

struct WindowSearch {
    std::wstring image;
    std::vector<HWND> windows;
};

inline BOOL CALLBACK CollectWindowOfImage(HWND window, LPARAM data)
{
    WindowSearch* search = (WindowSearch*)data;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (GetWindow(window, GW_OWNER) != nullptr || !IsWindowVisible(window))
        return TRUE;
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (!handle)
        return TRUE;
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameW(handle, 0, image, &size) &&
        _wcsicmp(image, search->image.c_str()) == 0)
        search->windows.push_back(window);
    CloseHandle(handle);
    return TRUE;
}

// The visible top-level windows of the programs started from `image`.
inline std::vector<HWND> ProgramWindows(const std::wstring& image)
{
    WindowSearch search = {image, {}};
    EnumWindows(&CollectWindowOfImage, (LPARAM)&search);
    return search.windows;
}

// The first such window, waiting for one up to `patience` milliseconds.
inline HWND WaitForProgramWindow(const std::wstring& image, DWORD patience = 120000)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> windows = ProgramWindows(image);
        if (!windows.empty())
            return windows[0];
        if (GetTickCount() - start >= patience)
            return nullptr;
        Sleep(100);
    }
}

// Closes the windows of the programs started from `image` and waits for
// them to end; ends those that do not.
inline void ClosePrograms(const std::wstring& image)
{
    for (HWND window : ProgramWindows(image)) {
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (!process)
            continue;
        if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0)
            TerminateProcess(process, 1);
        CloseHandle(process);
    }
}

// Starts the program of `directory` plainly, as a user does, waits until it
// (or the program it started in its place after recovering an update) has
// noted that it ran, closes it, and gives back the version it noted (""
// when none ran).
inline std::string RunPlainly(const std::wstring& directory)
{
    std::wstring program = directory + L"\\Quillmere.exe";
    std::wstring marker = directory + L"\\restarted.txt";
    DeleteFileW(marker.c_str());
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    std::wstring command = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process))
        return "";
    CloseHandle(process.hThread);
    DWORD start = GetTickCount();
    std::string noted;
    DWORD code = STILL_ACTIVE;
    // A program that ends with an error (one that fails at start) notes
    // nothing; one that ends with 0 may have started another. Wine keeps
    // an ended program's file in use while a handle to its process is
    // open, so the handle goes as soon as the process has.
    while ((noted = ReadBytes(marker)).empty() && GetTickCount() - start < 60000 &&
           (code == STILL_ACTIVE || code == 0)) {
        Sleep(50);
        if (process.hProcess && GetExitCodeProcess(process.hProcess, &code) && code != STILL_ACTIVE) {
            CloseHandle(process.hProcess);
            process.hProcess = nullptr;
        }
    }
    ClosePrograms(program);
    if (process.hProcess) {
        WaitForSingleObject(process.hProcess, 30000);
        CloseHandle(process.hProcess);
    }
    noted = ReadBytes(marker);
    DeleteFileW(marker.c_str());
    return noted;
}

// The working files and journal an installation may leave: none must stay.
inline bool HasLeftovers(const DirectoryState& state)
{
    for (const auto& entry : state) {
        std::wstring name = entry.first.substr(entry.first.find_last_of(L'\\') + 1);
        if ((name.size() >= 7 && _wcsnicmp(name.c_str(), L"qtm", 3) == 0 &&
             _wcsicmp(name.c_str() + name.size() - 4, L".tmp") == 0) ||
            name == L"Quillmere.journal")
            return true;
    }
    return false;
}
