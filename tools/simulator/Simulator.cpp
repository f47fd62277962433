#include "Simulator.h"

#include <string.h>

#include <atomic>
#include <unordered_set>

#include "ClassIcons.h"
#include "MachineParser.h"
#include "MachineRegistry.h"
#include "SnapshotMachine.h"
#include "snapshot/IconFile.h"

namespace {

const wchar_t kMachineVariable[] = L"QUILLMERE_SIM_MACHINE";
const DWORD kLargestMachineFile = 256u << 20;
// Timestamps of files are coarse (a few milliseconds under Wine on Linux): a
// file rewritten this soon after its last write may keep its time and size,
// so its content is compared as well.
const ULONGLONG kCoarseTimestamp = 2ULL * 10000000ULL; // 2 s in 100 ns units

struct FileStamp {
    bool exists = false;
    ULONGLONG size = 0;
    ULONGLONG written = 0;

    bool operator==(const FileStamp& other) const
    {
        return exists == other.exists && size == other.size && written == other.written;
    }
};

struct State {
    // A spin lock rather than a critical section: a walk of a large machine
    // makes tens of millions of calls, and this costs one locked instruction
    // per call instead of two. Entry points never call each other, so it is
    // never taken twice by one thread.
    std::atomic_flag lock = ATOMIC_FLAG_INIT;
    HMODULE module = nullptr;

    std::shared_ptr<Machine> machine;
    bool attempted = false;
    std::wstring path;
    FileStamp stamp;
    ULONGLONG contentHash = 0;
    ULONGLONG loadedAt = 0;
    std::string lastError;
    unsigned loads = 0;
    bool staleTreesRemoved = false;

    std::unordered_set<DeviceSet*> sets;
    // The set asked for last: a walk asks for the same set many times in a row.
    DeviceSet* lastSet = nullptr;
    std::unordered_set<ULONG_PTR> connections;
    ULONG_PTR nextConnection = 0x4D430000; // "MC": an opaque non-zero handle

    long calls[EntryCount] = {};
    // Every icon handed out that was alive when last looked at.
    std::vector<HICON> icons;
};

State* g_state = nullptr;

const char* const kEntryNames[] = {
#define SIMULATOR_ENTRY_NAME(name, group) #name,
    SIMULATOR_ENTRY_POINTS(SIMULATOR_ENTRY_NAME)
#undef SIMULATOR_ENTRY_NAME
};

ULONGLONG Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
}

ULONGLONG HashBytes(const std::string& bytes)
{
    ULONGLONG hash = 14695981039346656037ULL; // FNV-1a
    for (unsigned char ch : bytes)
        hash = (hash ^ ch) * 1099511628211ULL;
    return hash;
}

std::string Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::wstring ModuleDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(g_state->module, &path[0], (DWORD)path.size());
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring MachineFilePath()
{
    DWORD size = GetEnvironmentVariableW(kMachineVariable, nullptr, 0);
    if (size > 1) {
        std::wstring path(size, L'\0');
        DWORD length = GetEnvironmentVariableW(kMachineVariable, &path[0], size);
        if (length > 0 && length < size) {
            path.resize(length);
            return path;
        }
    }
    return ModuleDirectory() + L"machine.txt";
}

FileStamp StampOf(const std::wstring& path)
{
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return stamp;
    stamp.exists = true;
    stamp.size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    stamp.written = ((ULONGLONG)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

// The whole file, or an error text.
int ReadWholeFile(const std::wstring& path, std::string& content, std::string& error)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Narrow(path) + ": the machine file cannot be opened (error " + std::to_string(GetLastError()) + ")";
        return 0;
    }
    LARGE_INTEGER size = {};
    int ok = GetFileSizeEx(file, &size) && size.QuadPart <= kLargestMachineFile;
    if (ok) {
        content.resize((size_t)size.QuadPart);
        DWORD read = 0;
        ok = content.empty() || (ReadFile(file, &content[0], (DWORD)content.size(), &read, nullptr) &&
                                 read == content.size());
    }
    CloseHandle(file);
    if (!ok)
        error = Narrow(path) + ": the machine file cannot be read";
    return ok;
}

void ReportLoadError(const std::string& message)
{
    g_state->lastError = message;
    OutputDebugStringA(("QuillmereSimulator: " + message + "\n").c_str());
}

void DropMachine()
{
    if (g_state->machine)
        MachineRegistry::DeleteTree(g_state->machine->registryPath);
    g_state->machine.reset();
}

void Load(const std::wstring& path)
{
    State& state = *g_state;
    DropMachine();
    state.attempted = true;
    state.path = path;
    state.stamp = StampOf(path);
    state.loadedAt = Now();
    state.lastError.clear();

    std::string content, error;
    if (!ReadWholeFile(path, content, error)) {
        state.contentHash = 0;
        ReportLoadError(error);
        return;
    }
    state.contentHash = HashBytes(content);
    std::shared_ptr<Machine> machine = LooksLikeSnapshot(content.data(), content.size())
                                           ? MachineFromSnapshot(content.data(), content.size(), path, error)
                                           : ParseMachine(content.data(), content.size(), path, error);
    if (!machine) {
        ReportLoadError(error);
        return;
    }
    if (!state.staleTreesRemoved) {
        MachineRegistry::RemoveStaleTrees();
        state.staleTreesRemoved = true;
    }
    machine->registryPath = MachineRegistry::MachineTreePath(state.module, ++state.loads);
    MachineRegistry::DeleteTree(machine->registryPath);
    MachineRegistry::LabelTree(machine->registryPath, path);
    state.machine = machine;
}

bool ContentChanged(const State& state)
{
    std::string content, error;
    if (!ReadWholeFile(state.path, content, error))
        return true;
    return HashBytes(content) != state.contentHash;
}

} // namespace

ScopedCall::ScopedCall(Entry entry)
{
    while (g_state->lock.test_and_set(std::memory_order_acquire))
        Sleep(0);
    if (entry < Entry::SimulatorCalls) // the test hooks do not count themselves
        ++g_state->calls[(int)entry];
}

ScopedCall::~ScopedCall()
{
    g_state->lock.clear(std::memory_order_release);
}

const char* EntryName(Entry entry)
{
    int index = (int)entry;
    return index >= 0 && index < EntryCount ? kEntryNames[index] : "";
}

int EntryFromName(const char* name, int length)
{
    if (!name)
        return -1;
    size_t size = length < 0 ? strlen(name) : (size_t)length;
    for (int i = 0; i < EntryCount; ++i) {
        if (strlen(kEntryNames[i]) == size && memcmp(kEntryNames[i], name, size) == 0)
            return i;
    }
    return -1;
}

int DeviceSet::Find(int deviceIndex) const
{
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i] == deviceIndex)
            return (int)i;
    }
    return -1;
}

namespace Simulator {

Machine* CurrentMachine()
{
    if (!g_state->attempted)
        Load(MachineFilePath());
    return g_state->machine.get();
}

std::shared_ptr<Machine> CurrentMachineShared()
{
    CurrentMachine();
    return g_state->machine;
}

Machine* RefreshedMachine()
{
    State& state = *g_state;
    std::wstring path = MachineFilePath();
    if (!state.attempted || path != state.path) {
        Load(path);
        return state.machine.get();
    }
    FileStamp stamp = StampOf(path);
    bool recentlyWritten = stamp.exists && state.loadedAt - stamp.written < kCoarseTimestamp;
    if (!(stamp == state.stamp) || (recentlyWritten && ContentChanged(state)))
        Load(path);
    return state.machine.get();
}

const char* LastError()
{
    return g_state->lastError.c_str();
}

namespace {

// A real access violation, as a defective driver stack would give the
// caller: a write through a null pointer the compiler cannot see through.
void CrashIfAsked(const EntrySet& crashes, Entry entry)
{
    if (!crashes.test((int)entry))
        return;
    volatile int* volatile nowhere = nullptr;
    *nowhere = (int)entry;
}

} // namespace

bool Fails(const Machine& machine, Entry entry)
{
    CrashIfAsked(machine.crashes, entry);
    return machine.failures.test((int)entry);
}

bool Fails(const Machine& machine, Entry entry, const Device* device)
{
    CrashIfAsked(machine.crashes, entry);
    if (device)
        CrashIfAsked(device->crashes, entry);
    return machine.failures.test((int)entry) || (device && device->failures.test((int)entry));
}

bool Fails(const Machine& machine, Entry entry, const SetupClass* setupClass)
{
    CrashIfAsked(machine.crashes, entry);
    if (setupClass)
        CrashIfAsked(setupClass->crashes, entry);
    return machine.failures.test((int)entry) || (setupClass && setupClass->failures.test((int)entry));
}

DeviceSet* NewSet(const std::shared_ptr<Machine>& machine)
{
    DeviceSet* set = new DeviceSet();
    set->machine = machine;
    g_state->sets.insert(set);
    g_state->lastSet = set;
    return set;
}

DeviceSet* LiveSet(void* handle)
{
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    if (handle == g_state->lastSet)
        return g_state->lastSet;
    auto found = g_state->sets.find((DeviceSet*)handle);
    if (found == g_state->sets.end())
        return nullptr;
    g_state->lastSet = *found;
    return *found;
}

void DestroySet(DeviceSet* set)
{
    if (g_state->lastSet == set)
        g_state->lastSet = nullptr;
    if (g_state->sets.erase(set))
        delete set;
}

int OpenSetCount()
{
    return (int)g_state->sets.size();
}

ULONG_PTR NewConnection()
{
    ULONG_PTR handle = g_state->nextConnection += 4;
    g_state->connections.insert(handle);
    return handle;
}

bool IsConnection(ULONG_PTR handle)
{
    return handle == 0 || g_state->connections.count(handle) != 0;
}

void CloseConnection(ULONG_PTR handle)
{
    g_state->connections.erase(handle);
}

long Calls(const char* name)
{
    int entry = EntryFromName(name);
    return entry < 0 ? 0 : g_state->calls[entry];
}

void ResetCalls()
{
    for (long& count : g_state->calls)
        count = 0;
}

static std::wstring GuidPath(const GUID& guid)
{
    wchar_t text[40];
    _snwprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)guid.Data1,
               guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
               guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    text[39] = 0;
    return text;
}

static HKEY OpenWrittenTree(const std::wstring& path, const RegistryTree& tree, char& written, REGSAM access)
{
    if (!tree.present)
        return nullptr;
    if (!written) {
        MachineRegistry::WriteTree(path, tree);
        written = 1;
    }
    return MachineRegistry::Open(path, access);
}

HKEY OpenDeviceKey(Machine& machine, int deviceIndex, bool software, REGSAM access)
{
    const Device& device = machine.devices[deviceIndex];
    wchar_t handle[16];
    _snwprintf(handle, 16, L"%08lX", (unsigned long)device.handle);
    handle[15] = 0;
    std::wstring path = machine.registryPath + L"\\Device\\" + handle + (software ? L"\\Software" : L"\\Hardware");
    return software ? OpenWrittenTree(path, device.softwareKey, machine.softwareWritten[deviceIndex], access)
                    : OpenWrittenTree(path, device.hardwareKey, machine.hardwareWritten[deviceIndex], access);
}

HKEY OpenClassKey(Machine& machine, int classIndex, bool interfaceKey, REGSAM access)
{
    const SetupClass& setupClass = machine.classes[classIndex];
    std::wstring path =
        machine.registryPath + L"\\Class\\" + GuidPath(setupClass.guid) + (interfaceKey ? L"\\Interface" : L"\\Installer");
    return interfaceKey ? OpenWrittenTree(path, setupClass.interfaceKey, machine.interfaceWritten[classIndex], access)
                        : OpenWrittenTree(path, setupClass.installerKey, machine.installerWritten[classIndex], access);
}

// Forgets the icons their callers have destroyed since. Looking costs a
// copy of each icon's bitmaps, so it is done only when the count matters.
static void ForgetDestroyedIcons()
{
    std::vector<HICON>& icons = g_state->icons;
    size_t kept = 0;
    for (HICON icon : icons) {
        ICONINFO info;
        if (!GetIconInfo(icon, &info))
            continue;
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        if (info.hbmMask)
            DeleteObject(info.hbmMask);
        icons[kept++] = icon;
    }
    icons.resize(kept);
}

HICON NewClassIcon(const Machine& machine, const SetupClass& setupClass, DWORD& error)
{
    error = ERROR_SUCCESS;
    if ((int)g_state->icons.size() >= machine.userObjectQuota)
        ForgetDestroyedIcons();
    if ((int)g_state->icons.size() >= machine.userObjectQuota) {
        error = ERROR_NO_MORE_USER_HANDLES;
        return nullptr;
    }
    HICON icon = setupClass.iconFile.empty() ? ClassIcons::Create(setupClass.colour)
                                             : IconFile::Create(setupClass.iconFile);
    if (!icon) {
        error = ERROR_GEN_FAILURE;
        return nullptr;
    }
    g_state->icons.push_back(icon);
    return icon;
}

int IconsAlive()
{
    ForgetDestroyedIcons();
    return (int)g_state->icons.size();
}

void OnProcessAttach(HMODULE module)
{
    g_state = new State();
    g_state->module = module;
}

void OnProcessDetach(bool processEnding)
{
    if (!g_state || processEnding)
        return; // the process is going away: nothing to tidy that it would notice
    DropMachine();
    for (DeviceSet* set : g_state->sets)
        delete set;
    ClassIcons::DestroyAll();
    delete g_state;
    g_state = nullptr;
}

} // namespace Simulator
