#include <gtest/gtest.h>

#include <vector>

#include "services/RegistryKey.h"
#include "ui/DarkMode.h"

namespace {

TEST(DarkMode, WantedOnlyFromWindows10Build17763WithBitZeroSet)
{
    EXPECT_EQ(0, DarkModeWantedOn(0, 19041, 1)); // not Windows 10
    EXPECT_EQ(0, DarkModeWantedOn(1, 17762, 1)); // below 1809, whatever the setting
    EXPECT_EQ(1, DarkModeWantedOn(1, 17763, 1));
    EXPECT_EQ(0, DarkModeWantedOn(1, 17763, 0));
    EXPECT_EQ(0, DarkModeWantedOn(1, 22621, 2)); // only bit 0 counts
    EXPECT_EQ(1, DarkModeWantedOn(1, 22621, 0x101));
}

TEST(DarkMode, ThePreferredModeNeedsBuild18334)
{
    EXPECT_EQ(0, DarkModePreferenceAllowedOn(1, 18333));
    EXPECT_EQ(1, DarkModePreferenceAllowedOn(1, 18334));
    EXPECT_EQ(0, DarkModePreferenceAllowedOn(0, 22000));
}

TEST(DarkMode, TitleBarAttributeFollowsColorPrevalence)
{
    TitleBarAttribute chosen;
    ASSERT_TRUE(ChooseTitleBarAttribute(0, 1, 0, &chosen));
    EXPECT_EQ(20u, chosen.attribute);
    EXPECT_EQ(1u, chosen.value);
    ASSERT_TRUE(ChooseTitleBarAttribute(2, 0, 1, &chosen));
    EXPECT_EQ(20u, chosen.attribute);
    EXPECT_EQ(0u, chosen.value);
    // Accent-coloured title bars stay unless the window asks for a caption colour.
    EXPECT_FALSE(ChooseTitleBarAttribute(1, 1, 0, &chosen));
    ASSERT_TRUE(ChooseTitleBarAttribute(1, 1, 1, &chosen));
    EXPECT_EQ(35u, chosen.attribute);
    EXPECT_EQ(0x202020u, chosen.value);
    ASSERT_TRUE(ChooseTitleBarAttribute(1, 0, 1, &chosen));
    EXPECT_EQ(0xFFFFFFFFu, chosen.value);
}

struct DwmCall {
    HWND window;
    DWORD attribute;
    DWORD value;
};
std::vector<DwmCall> dwmCalls;
int darkQueries, preferenceCalls, lastMode;

HRESULT WINAPI FakeDwmSetWindowAttribute(HWND window, DWORD attribute, const void* value, DWORD size)
{
    dwmCalls.push_back({window, attribute, size == 4 ? *(const DWORD*)value : 0xDEAD});
    return S_OK;
}
int WINAPI FakeShouldAppsUseDarkMode()
{
    ++darkQueries;
    return 1;
}
int WINAPI FakeSetPreferredAppMode(int mode)
{
    ++preferenceCalls;
    lastMode = mode;
    return 7;
}

// Puts "ColorPrevalence" of the user's DWM settings to a test value and
// restores what was there.
class ScopedColorPrevalence {
public:
    explicit ScopedColorPrevalence(const DWORD* value)
    {
        RegistryKey key;
        if (key.OpenRead(HKEY_CURRENT_USER, Path))
            hadValue_ = key.ReadNumber(L"ColorPrevalence", &old_) != 0;
        key.Close();
        Set(value);
    }
    ~ScopedColorPrevalence()
    {
        DWORD old = (DWORD)old_;
        Set(hadValue_ ? &old : nullptr);
    }

private:
    static void Set(const DWORD* value)
    {
        RegistryKey key;
        if (!key.CreateWrite(HKEY_CURRENT_USER, Path))
            return;
        if (value)
            key.WriteDword(L"ColorPrevalence", *value);
        else
            RegDeleteValueW(key.Handle(), L"ColorPrevalence");
    }
    static constexpr const wchar_t* Path = L"SOFTWARE\\Microsoft\\Windows\\DWM";
    bool hadValue_ = false;
    unsigned long long old_ = 0;
};

TEST(DarkMode, TitleBarColourReadsTheUsersDwmSetting)
{
    OptionalApiTable table = {};
    table.DwmSetWindowAttribute = &FakeDwmSetWindowAttribute;
    OptionalApi api(table);
    HWND window = (HWND)0x4242;
    {
        ScopedColorPrevalence none(nullptr);
        dwmCalls.clear();
        EXPECT_TRUE(SetTitleBarColour(window, 1, 0, api));
        ASSERT_EQ(1u, dwmCalls.size());
        EXPECT_EQ(window, dwmCalls[0].window);
        EXPECT_EQ(20u, dwmCalls[0].attribute);
        EXPECT_EQ(1u, dwmCalls[0].value);
    }
    {
        const DWORD accent = 1;
        ScopedColorPrevalence shown(&accent);
        dwmCalls.clear();
        EXPECT_FALSE(SetTitleBarColour(window, 1, 0, api)); // a dark dialog keeps the accent colour
        EXPECT_TRUE(dwmCalls.empty());
        EXPECT_TRUE(SetTitleBarColour(window, 1, 1, api));
        ASSERT_EQ(1u, dwmCalls.size());
        EXPECT_EQ(35u, dwmCalls[0].attribute);
        EXPECT_EQ(0x202020u, dwmCalls[0].value);
    }
    // Without dwmapi's function the colour is simply not set.
    OptionalApiTable empty = {};
    OptionalApi without(empty);
    EXPECT_TRUE(SetTitleBarColour(window, 0, 0, without));
}

TEST(DarkMode, TheUnnamedEntryPointsAreOnlyCalledOnBuildsThatHaveThem)
{
    OptionalApiTable table = {};
    table.ShouldAppsUseDarkMode = &FakeShouldAppsUseDarkMode;
    table.SetPreferredAppMode = &FakeSetPreferredAppMode;
    OptionalApi api(table);
    int windows10 = 0;
    DWORD build = 0;
    RunningWindows10Build(&windows10, &build);
    darkQueries = preferenceCalls = 0;
    int wanted = IsDarkModeWanted(api);
    int allowed = AllowDarkModeForApp(1, api);
    bool hasQuery = windows10 && build >= DarkModeQueryBuild;
    bool hasPreference = windows10 && build >= DarkModePreferenceBuild;
    EXPECT_EQ(hasQuery ? 1 : 0, darkQueries);
    EXPECT_EQ(hasQuery ? 1 : 0, wanted);
    EXPECT_EQ(hasPreference ? 1 : 0, preferenceCalls);
    EXPECT_EQ(hasPreference ? 7 : 0, allowed);
    if (hasPreference) {
        EXPECT_EQ(1, lastMode);
    }
}

TEST(DarkMode, RunningVersionMatchesTheRegistry)
{
    int windows10 = -1;
    DWORD build = 0;
    ASSERT_TRUE(RunningWindows10Build(&windows10, &build));
    WideString text;
    RegistryKey key;
    ASSERT_TRUE(key.OpenRead(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"));
    ASSERT_TRUE(key.ReadText(L"CurrentBuildNumber", text));
    EXPECT_EQ(wcstoul(text.Text(), nullptr, 10), build);
    unsigned long long major = 0;
    // Only Windows 10 and later write the major version number there.
    int expected = key.ReadNumber(L"CurrentMajorVersionNumber", &major) && major >= 10 ? 1 : 0;
    EXPECT_EQ(expected, windows10);
}

} // namespace
