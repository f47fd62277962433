#pragma once

#include <windows.h>

#include <string>

// A whole file's bytes, "" when it cannot be read (others may hold it open
// for writing or deleting).
std::string ReadFileBytes(const wchar_t* path);
// The same, telling apart an empty file (true) from one that cannot be opened.
bool ReadWholeFile(const wchar_t* path, std::string& bytes);
// Writes `bytes` as the whole file; true when all of them went out.
bool WriteFileBytes(const wchar_t* path, const std::string& bytes);
