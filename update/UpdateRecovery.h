#pragma once

// Run at every start, before the main window: an installation that a
// crash, a kill or a power cut interrupted is finished or undone, and the
// working files it left are removed, so that the program folder holds one
// whole version. Nothing is touched while another process of the folder
// installs (its install lock is held). `directory` none: the running
// executable's folder. 1 when the folder is in order.
int RecoverInterruptedUpdate(const wchar_t* directory = nullptr);

// RecoverInterruptedUpdate for the running program. When the recovery put
// another file in the place of the running executable (the process was
// started from the new version of an installation that is now undone, or
// the other way round), the folder's program is started instead: 0 then,
// and the process ends; otherwise 1.
int RecoverAtStart();
