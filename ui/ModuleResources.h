#pragma once

#include <windows.h>

#include "services/WideString.h"

// Where the program looks for a resource when the wanted language is absent.
// The program carries English and German texts, so every request ends up
// in one of them.
static const int ResourceLanguageCount = 7;

// The languages FindModuleResource tries for `language`, in order.
void ResourceLanguageOrder(LANGID language, LANGID (&order)[ResourceLanguageCount]);

// The locked data of resource (`type`, `name`) in the best available
// language, or nullptr; *size (optional) receives its byte count. A resource
// of size 0 counts as missing. `module` nullptr means the process's executable.
const void* FindModuleResource(HMODULE module, const wchar_t* type, const wchar_t* name,
                               LANGID language, DWORD* size = nullptr);

// The full path of `module` (the process's executable for nullptr). A path
// that does not fit 260 characters fails rather than coming back cut short.
int ModuleFile(HMODULE module, WideString& path);
// The same path cut after its last backslash, which stays.
int ModuleFolder(HMODULE module, WideString& folder);
