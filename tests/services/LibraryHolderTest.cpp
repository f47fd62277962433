#include <gtest/gtest.h>

#include "services/LibraryHolder.h"

#include <string>

TEST(LibraryHolder, LoadsLooksUpAndReleases)
{
    LibraryHolder lib;
    EXPECT_EQ(nullptr, lib.Lookup("GetTickCount"));
    ASSERT_TRUE(lib.Load(L"kernel32.dll"));
    EXPECT_NE(nullptr, lib.Lookup("GetTickCount"));
    EXPECT_EQ(nullptr, lib.Lookup("NoSuchEntryPoint"));
    lib.Release();
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(nullptr, lib.Lookup("GetTickCount"));
}

TEST(LibraryHolder, MissingLibraryFailsQuietlyAndRestoresTheErrorMode)
{
    UINT before = SetErrorMode(0);
    SetErrorMode(before);
    LibraryHolder lib;
    ASSERT_TRUE(lib.Load(L"kernel32.dll"));
    EXPECT_FALSE(lib.Load(L"quillmere_no_such_library.dll"));
    EXPECT_FALSE(lib.IsLoaded()); // the earlier module was released first
    EXPECT_EQ(nullptr, lib.Lookup("GetTickCount"));
    UINT after = SetErrorMode(0);
    SetErrorMode(after);
    EXPECT_EQ(before, after);
}

namespace {

// Runs planted\library_probe.exe, which sits beside a planted dbghelp.dll,
// and returns its exit code: 0 nothing loaded, 1 the system's, 2 the planted.
DWORD ProbePlantedDll(const wchar_t* how)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder = folder.substr(0, folder.find_last_of(L'\\') + 1) + L"planted\\";
    std::wstring command = L"\"" + folder + L"library_probe.exe\" " + how + L" dbghelp.dll";
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        return 99;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 98;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

} // namespace

TEST(LibraryHolder, ASystemLibraryPlantedBesideTheProgramIsNotLoaded)
{
    // Wine prefers its own dbghelp; told to prefer DLLs found on the search
    // path (for the probe only), it searches the program's folder first, as
    // Windows does for every library it does not list as known.
    const wchar_t* overrides = L"Software\\Wine\\AppDefaults\\library_probe.exe\\DllOverrides";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, overrides, 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    const wchar_t order[] = L"native,builtin";
    RegSetValueExW(key, L"dbghelp", 0, REG_SZ, (const BYTE*)order, sizeof order);
    RegCloseKey(key);
    DWORD bare = ProbePlantedDll(L"bare");
    DWORD holder = ProbePlantedDll(L"holder");
    RegDeleteKeyW(HKEY_CURRENT_USER, overrides);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\library_probe.exe");
    ASSERT_EQ(2u, bare) << "a load by the search order takes the planted DLL";
    EXPECT_EQ(1u, holder) << "the system's dbghelp.dll";
}
