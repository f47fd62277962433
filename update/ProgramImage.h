#pragma once

#include <windows.h>

// An update must not put a program or library built for another processor
// in place of this one's files: the 32-bit and the 64-bit build stand in
// folders of the same layout, and a server that mixes up their archives
// would leave a program that no longer starts (or one that starts as the
// other build and updates as it).

// The machine type of this process's own code (IMAGE_FILE_MACHINE_I386,
// IMAGE_FILE_MACHINE_AMD64, ...).
WORD ThisProcessorMachine();

// The machine type in the PE header of the file at `path` through
// `machine`: 1 for a PE image, 0 for any other file (or one that cannot
// be read).
[[nodiscard]] int ImageMachine(const wchar_t* path, WORD* machine);

// 1 when the file may replace a file of this program: it is no PE image
// at all, or one for this process's processor.
[[nodiscard]] int FitsThisProcessor(const wchar_t* path);
