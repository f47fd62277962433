#pragma once

#include <memory>
#include <string>

#include "Machine.h"

// Reads a machine file (UTF-8 text, format in README.md). Returns the
// machine, or nullptr with `error` set to "<path>(<line>): <what is wrong>".
std::shared_ptr<Machine> ParseMachine(const char* text, size_t size, const std::wstring& path,
                                      std::string& error);

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; 1 when the text is such a GUID.
int ParseGuid(const std::string& text, GUID& guid);

// A DEVPKEY_ name from the table the machine files may use; 1 when known.
int LookUpPropertyKeyName(const char* name, DEVPROPKEY& key);
