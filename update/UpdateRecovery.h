#pragma once

// What the program does about updates at its own start, before its main
// window, and once it has shown that it runs.

// Run at every start, before the main window, in one call: an installation
// that a crash, a kill or a power cut interrupted is finished or undone and
// the working files it left are removed, so that the program folder holds
// one whole version; a version on trial counts this start, and the last
// start of one that never passed undoes it. Nothing is touched while
// another process of the folder installs (its install lock is held). A
// record that is not one of ours, or a recovery that cannot be completed,
// is told to the user once, in a message box. When the recovery put
// another file in the place of the running executable (the process was
// started from the new version of an installation that is now undone, or
// the other way round), the folder's program is started instead: 0 then,
// and the process ends; otherwise 1.
[[nodiscard]] int RecoverAtStart();

// Once the program has shown that it runs (its first refresh painted and
// its window answering messages for ProgramStart::ProofDelay): gives the
// old program that started it the proof it waits for, and ends the trial
// of the version on trial when that is this program (as RecoverAtStart
// found its file).
void ConfirmProgramRuns();
