#pragma once

#include <windows.h>

#include <string>

#include "services/WideString.h"

// Wine starts its debugger for an exception that no filter handles, and the
// debugger waits for a person. While the object lives, the AeDebug
// "Debugger" value is empty, so the exception ends the process instead;
// a value that was there before is put back.
class DebuggerOff {
public:
    DebuggerOff();
    ~DebuggerOff();
    DebuggerOff(const DebuggerOff&) = delete;
    DebuggerOff& operator=(const DebuggerOff&) = delete;

private:
    WideString saved_;
    bool changed_ = false;
};

// One run of the crash helper (crasher.exe) from a copy in a fresh folder,
// so the files it leaves beside itself are its own.
struct CrashRun {
    bool ended = false;      // the child ended within the time allowed
    DWORD exitCode = 0;
    DWORD milliseconds = 0;  // how long it ran
    DWORD mainThreadId = 0;
    std::string text;        // crasher_Debug.txt, empty when missing
    bool textExists = false;
    std::string dump;        // crasher_Debug.dmp
    bool dumpExists = false;
    std::string step;        // what the report step was handed
};

// What a folder for a run gets besides the helper.
enum class CrashSetup {
    Plain,
    // A system without DbgHelp: Wine loads none into the helper, and the
    // unloadable dbghelp.dll beside it is never taken for the system's.
    WithoutDbgHelp,
    // Folders named like both files, so neither can be created there.
    PrimaryBlocked,
    // Both files as an earlier crash left them (StaleText).
    StaleFiles,
};

const char StaleText[] = "stale report of an earlier crash";

// The parts of a path that name the user (the profile folder, the user name
// as a folder of its own), in the forms a report could hold them: 8-bit and
// UTF-16, any case. Empty when `bytes` holds none of them.
std::string UserNameIn(const std::string& bytes);

// Runs the helper with `mode` in `folder` (a fresh directory) and collects
// what it left; waits at most `timeout` milliseconds.
CrashRun RunCrasher(const wchar_t* folder, const char* mode, CrashSetup setup,
                    DWORD timeout = 60000);

// Runs the program's main window (crashwindow, tests/report/crasher) with
// `arguments` from a copy in `folder`, beside the device simulator and its
// default machine (chosen over Wine's setup library for that program), and
// collects what it left like RunCrasher.
CrashRun RunCrashingWindow(const wchar_t* folder, const char* arguments, DWORD timeout = 60000);

// Runs the program's own entry point with a start-up recovery that crashes
// (recoverycrash, tests/report/crasher) from a copy in `folder`, and
// collects what it left like RunCrasher.
CrashRun RunCrashingRecovery(const wchar_t* folder, DWORD timeout = 60000);

// The lines of a report section after its title line ("Stack:", ...) up to
// the next empty line; empty when the section is missing.
std::string Section(const std::string& text, const char* title);
// Line `line` (from 1) of the text file at `path`, empty when there is none.
std::string LineOfFile(const std::string& path, int line);

// A parsed minidump: valid when the header, its stream directory and every
// stream it names lie inside the file, and the thread and module lists are
// as long as their counts say.
struct DumpFacts {
    bool valid = false;
    bool hasException = false;
    DWORD exceptionThreadId = 0;
    DWORD exceptionCode = 0;
    bool hasModules = false;
    int threadCount = 0;
    bool listsThread(DWORD id) const;
    DWORD threadIds[256] = {};
};
DumpFacts ReadDump(const std::string& bytes);
