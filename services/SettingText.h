#pragma once

#include <windows.h>

#include "services/SettingsStore.h"
#include "services/WideString.h"

// The short texts the toolkit keeps per user ("Main", "Splitter"): read and
// written through the settings store when the caller has one, else as a
// REG_SZ value under `root`\`path` (the key is created when writing).

// Texts longer than this are not ours and are not read back.
static const int SettingTextLimit = 260;

// 1 when a text was found; `text` is empty otherwise.
int ReadSettingText(HKEY root, const wchar_t* path, const wchar_t* name, WideString& text,
                    SettingsStore* store = nullptr);
int WriteSettingText(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text,
                     SettingsStore* store = nullptr);

// Exactly `count` decimal integers separated by commas, each within the
// range of an int; blanks may stand around every number. Anything else (a
// missing or extra number, another character, an overflow) gives 0 and
// leaves `values` alone: the texts come back from the registry, where
// anyone may have written anything.
int ParseNumberList(const wchar_t* text, int* values, int count);
