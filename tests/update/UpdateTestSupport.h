#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "common/FileBytes.h"

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
