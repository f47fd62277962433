#pragma once

// Every step of an installation that changes or reads the disk (download,
// verification, extraction, journal, rename, restart) is announced here
// before it is taken. Nothing in the program listens; tests stop a process
// at a chosen step, or hold a file open there, to see that whatever
// happens at that moment leaves one whole version behind.
typedef void (*UpdateStepWatcher)(const wchar_t* step, void* data);

// `watcher` (none: nobody) sees every later step of this process.
void WatchUpdateSteps(UpdateStepWatcher watcher, void* data);

// Announces a step: a printf-style text such as "rename Quillmere.exe".
void UpdateStep(const wchar_t* format, ...);
