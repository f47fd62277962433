#include "CrashChild.h"

#include <dbghelp.h>
#include <string.h>

#include <initializer_list>
#include <vector>

#include "common/TempDirectory.h"
#include "services/ModulePath.h"
#include "services/RegistryKey.h"

namespace {

const wchar_t AeDebugKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";

WideString InFolder(const wchar_t* folder, const wchar_t* name)
{
    WideString path;
    JoinPath(folder, name, path);
    return path;
}

WideString InTemporaryFolder(const wchar_t* name)
{
    wchar_t temporary[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temporary);
    return InFolder(temporary, name);
}

void Prepare(const wchar_t* folder, CrashSetup setup)
{
    DeleteFileW(InTemporaryFolder(L"crasher_Debug.dmp").Text());
    DeleteFileW(InTemporaryFolder(L"crasher_Debug.txt").Text());
    if (setup == CrashSetup::WithoutDbgHelp) {
        HANDLE file = CreateFileW(InFolder(folder, L"dbghelp.dll").Text(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "not a library", 13, &written, nullptr);
        CloseHandle(file);
    } else if (setup == CrashSetup::PrimaryBlocked) {
        CreateDirectoryW(InFolder(folder, L"crasher_Debug.dmp").Text(), nullptr);
        CreateDirectoryW(InFolder(folder, L"crasher_Debug.txt").Text(), nullptr);
    } else if (setup == CrashSetup::StaleFiles) {
        for (const wchar_t* name : {L"crasher_Debug.dmp", L"crasher_Debug.txt"}) {
            HANDLE file = CreateFileW(InFolder(folder, name).Text(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            WriteFile(file, StaleText, sizeof StaleText - 1, &written, nullptr);
            CloseHandle(file);
        }
    }
}

// `text` in the forms a report could hold it.
std::vector<std::string> Spellings(const std::wstring& text)
{
    std::string narrow, wide;
    for (wchar_t ch : text) {
        wchar_t upper = ch >= L'a' && ch <= L'z' ? ch - L'a' + L'A' : ch;
        narrow += (char)upper;
        wide += (char)upper;
        wide += '\0';
    }
    return {narrow, wide};
}

std::string Upper(const std::string& bytes)
{
    std::string upper = bytes;
    for (char& ch : upper)
        if (ch >= 'a' && ch <= 'z')
            ch = ch - 'a' + 'A';
    return upper;
}

// Starts the helper with its output going nowhere (Wine reports the
// unhandled exception there) and waits for it.
bool Launch(const wchar_t* exe, const wchar_t* folder, const char* mode, DWORD timeout,
            CrashRun& run)
{
    WideString command;
    command.Format(L"\"%s\" %hs", exe, mode);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    DWORD start = GetTickCount();
    BOOL created = CreateProcessW(exe, command.Buffer(), nullptr, nullptr, TRUE, 0, nullptr,
                                  folder, &startup, &process);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!created)
        return false;
    run.mainThreadId = process.dwThreadId;
    run.ended = WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0;
    run.milliseconds = GetTickCount() - start;
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    if (!run.ended) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

template <typename T>
bool At(const std::string& bytes, size_t offset, T& value)
{
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return false;
    memcpy(&value, bytes.data() + offset, sizeof(T));
    return true;
}

// A list stream is exactly as long as its count says, the 4 bytes that
// 64-bit writers may put before the entries aside.
bool ListFits(ULONG32 size, ULONG32 count, size_t entry)
{
    return size == 4 + count * entry || size == 8 + count * entry;
}

} // namespace

DebuggerOff::DebuggerOff()
{
    RegistryKey key;
    if (!key.OpenRead(HKEY_LOCAL_MACHINE, AeDebugKey) || !key.ReadText(L"Debugger", saved_) ||
        saved_.IsEmpty())
        return;
    changed_ = key.CreateWrite(HKEY_LOCAL_MACHINE, AeDebugKey) && key.WriteText(L"Debugger", L"");
}

DebuggerOff::~DebuggerOff()
{
    RegistryKey key;
    if (changed_ && key.CreateWrite(HKEY_LOCAL_MACHINE, AeDebugKey))
        key.WriteText(L"Debugger", saved_.Text());
}

namespace {

// Copies `names` from the tests' directory into `folder`.
bool CopyBeside(const wchar_t* folder, std::initializer_list<const wchar_t*> names)
{
    WideString directory;
    if (!GetExecutableDirectory(directory))
        return false;
    for (const wchar_t* name : names) {
        if (!CopyFileW(InFolder(directory.Text(), name).Text(), InFolder(folder, name).Text(), FALSE))
            return false;
    }
    return true;
}

void CollectFiles(const wchar_t* folder, bool inTemporaryFolder, const wchar_t* base, CrashRun& run)
{
    WideString dumpName, textName;
    dumpName.Format(L"%s_Debug.dmp", base);
    textName.Format(L"%s_Debug.txt", base);
    WideString dump = inTemporaryFolder ? InTemporaryFolder(dumpName.Text())
                                        : InFolder(folder, dumpName.Text());
    WideString text = inTemporaryFolder ? InTemporaryFolder(textName.Text())
                                        : InFolder(folder, textName.Text());
    run.dumpExists = ReadWholeFile(dump.Text(), run.dump);
    run.textExists = ReadWholeFile(text.Text(), run.text);
    ReadWholeFile(InFolder(folder, L"step.txt").Text(), run.step);
    if (inTemporaryFolder) {
        DeleteFileW(dump.Text());
        DeleteFileW(text.Text());
    }
}

} // namespace

CrashRun RunCrasher(const wchar_t* folder, const char* mode, CrashSetup setup, DWORD timeout)
{
    CrashRun run;
    if (!CopyBeside(folder, {L"crasher.exe"}))
        return run;
    Prepare(folder, setup);
    // Without DbgHelp: Wine told to load none into the helper, since the
    // system library comes from the system folder, whatever lies beside it.
    const wchar_t* overrides = L"Software\\Wine\\AppDefaults\\crasher.exe\\DllOverrides";
    RegistryKey key;
    if (setup == CrashSetup::WithoutDbgHelp && key.CreateWrite(HKEY_CURRENT_USER, overrides))
        key.WriteText(L"dbghelp", L"");
    key.Close();
    bool launched = Launch(InFolder(folder, L"crasher.exe").Text(), folder, mode, timeout, run);
    if (setup == CrashSetup::WithoutDbgHelp) {
        RegDeleteKeyW(HKEY_CURRENT_USER, overrides);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\crasher.exe");
    }
    if (!launched)
        return run;
    CollectFiles(folder, setup == CrashSetup::PrimaryBlocked, L"crasher", run);
    return run;
}

CrashRun RunCrashingWindow(const wchar_t* folder, const char* arguments, DWORD timeout)
{
    CrashRun run;
    if (!CopyBeside(folder, {L"crashwindow.exe", L"setupapi.dll", L"machine.txt"}))
        return run;
    // The simulator beside the program, whatever the tests' own environment
    // says: Wine takes the program's own overrides too.
    const wchar_t* overrides = L"Software\\Wine\\AppDefaults\\crashwindow.exe\\DllOverrides";
    RegistryKey key;
    if (key.CreateWrite(HKEY_CURRENT_USER, overrides))
        key.WriteText(L"setupapi", L"native,builtin");
    key.Close();
    if (Launch(InFolder(folder, L"crashwindow.exe").Text(), folder, arguments, timeout, run))
        CollectFiles(folder, false, L"crashwindow", run);
    RegDeleteKeyW(HKEY_CURRENT_USER, overrides);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\crashwindow.exe");
    return run;
}

CrashRun RunCrashingRecovery(const wchar_t* folder, DWORD timeout)
{
    CrashRun run;
    if (CopyBeside(folder, {L"recoverycrash.exe"}) &&
        Launch(InFolder(folder, L"recoverycrash.exe").Text(), folder, "", timeout, run))
        CollectFiles(folder, false, L"recoverycrash", run);
    return run;
}

std::string Section(const std::string& text, const char* title)
{
    std::string head = std::string("\r\n") + title + "\r\n";
    size_t start = text.find(head);
    if (start == std::string::npos)
        return std::string();
    start += head.size();
    size_t end = text.find("\r\n\r\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start + 2);
}

std::string LineOfFile(const std::string& path, int line)
{
    WideString wide;
    std::string bytes;
    if (!wide.FromMultiByte(path.c_str()) || !ReadWholeFile(wide.Text(), bytes))
        return std::string();
    size_t start = 0;
    for (int i = 1; i < line && start != std::string::npos; ++i) {
        start = bytes.find('\n', start);
        if (start != std::string::npos)
            ++start;
    }
    if (start == std::string::npos)
        return std::string();
    return bytes.substr(start, bytes.find('\n', start) - start);
}

bool DumpFacts::listsThread(DWORD id) const
{
    for (int i = 0; i < threadCount && i < 256; ++i)
        if (threadIds[i] == id)
            return true;
    return false;
}

DumpFacts ReadDump(const std::string& bytes)
{
    DumpFacts facts;
    MINIDUMP_HEADER header;
    if (!At(bytes, 0, header) || header.Signature != 0x504D444D /* "MDMP" */ ||
        (header.Version & 0xFFFF) != MINIDUMP_VERSION || header.NumberOfStreams == 0)
        return facts;
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        if (!At(bytes, header.StreamDirectoryRva + i * sizeof(entry), entry))
            return facts;
        size_t rva = entry.Location.Rva;
        if (rva > bytes.size() || bytes.size() - rva < entry.Location.DataSize)
            return facts;
        if (entry.StreamType == ExceptionStream) {
            MINIDUMP_EXCEPTION_STREAM exception;
            if (!At(bytes, rva, exception))
                return facts;
            facts.hasException = true;
            facts.exceptionThreadId = exception.ThreadId;
            facts.exceptionCode = exception.ExceptionRecord.ExceptionCode;
        } else if (entry.StreamType == ModuleListStream) {
            ULONG32 count = 0;
            if (!At(bytes, rva, count) || !ListFits(entry.Location.DataSize, count, sizeof(MINIDUMP_MODULE)))
                return facts;
            facts.hasModules = count > 0;
        } else if (entry.StreamType == ThreadListStream) {
            ULONG32 count = 0;
            if (!At(bytes, rva, count) || !ListFits(entry.Location.DataSize, count, sizeof(MINIDUMP_THREAD)))
                return facts;
            for (ULONG32 t = 0; t < count && t < 256; ++t) {
                MINIDUMP_THREAD thread;
                if (!At(bytes, rva + 4 + t * sizeof(thread), thread))
                    return facts;
                facts.threadIds[facts.threadCount++] = thread.ThreadId;
            }
        }
    }
    facts.valid = true;
    return facts;
}

std::string UserNameIn(const std::string& bytes)
{
    wchar_t profile[MAX_PATH] = {}, user[256] = {};
    DWORD size = 256;
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    GetUserNameW(user, &size);
    std::vector<std::wstring> terms;
    if (*profile)
        terms.push_back(profile);
    if (*user) {
        terms.push_back(std::wstring(L"\\") + user + L"\\");
        terms.push_back(std::wstring(L"/") + user + L"/");
    }
    std::string upper = Upper(bytes);
    for (const std::wstring& term : terms) {
        for (const std::string& spelling : Spellings(term)) {
            if (upper.find(spelling) != std::string::npos)
                return std::string(term.begin(), term.end());
        }
    }
    return std::string();
}


