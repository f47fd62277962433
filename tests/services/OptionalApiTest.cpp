#include <gtest/gtest.h>

#include <string.h>
#include <thread>

#include "services/OptionalApi.h"

namespace {

TEST(OptionalApi, MissingFunctionsGiveTheirFallbacksWithoutCallingAnything)
{
    OptionalApiTable empty = {};
    OptionalApi api(empty);
    POINT origin = {0, 0};
    EXPECT_EQ(nullptr, api.MonitorFromPoint(origin, MONITOR_DEFAULTTONEAREST));
    MONITORINFO info = {sizeof info};
    EXPECT_EQ(0, api.GetMonitorInfoW((HMONITOR)1, &info));
    EXPECT_EQ(0u, api.GetDpiForWindow(GetDesktopWindow()));
    EXPECT_EQ(0, api.GetSystemMetricsForDpi(SM_CXICON, 96));
    RECT rect = {1, 2, 3, 4};
    EXPECT_EQ(0, api.AdjustWindowRectExForDpi(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0, 96));
    EXPECT_EQ(1, rect.left); // nothing done
    EXPECT_EQ(4, rect.bottom);
    EXPECT_EQ(0, api.SystemParametersInfoForDpi(SPI_GETICONMETRICS, 0, nullptr, 0, 96));
    EXPECT_EQ(nullptr, api.SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE));
    EXPECT_EQ(0, api.SetDialogDpiChangeBehavior(nullptr, DDC_DEFAULT, DDC_DEFAULT));
    EXPECT_EQ(0, api.GetComboBoxInfo(nullptr, nullptr));
    EXPECT_EQ(CLR_INVALID, api.SetDCBrushColor(nullptr, 0));
    EXPECT_EQ(CLR_INVALID, api.SetDCPenColor(nullptr, 0));
    EXPECT_EQ(E_FAIL, api.CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr));
    EXPECT_EQ(E_FAIL, api.CoSetProxyBlanket(nullptr, 0, 0, nullptr, 0, 0, nullptr, 0));
    HICON icon = (HICON)1;
    EXPECT_EQ(E_FAIL, api.LoadIconMetric(nullptr, IDI_APPLICATION, 0, &icon));
    EXPECT_EQ(nullptr, icon);
    icon = (HICON)1;
    EXPECT_EQ(E_FAIL, api.LoadIconWithScaleDown(nullptr, IDI_APPLICATION, 16, 16, &icon));
    EXPECT_EQ(nullptr, icon);
    EXPECT_EQ(0, api.DrawShadowText(nullptr, L"x", 1, &rect, 0, 0, 0, 1, 1));
    EXPECT_EQ(0, api.ShouldAppsUseDarkMode());
    EXPECT_EQ(0, api.SetPreferredAppMode(1));
    EXPECT_EQ(nullptr, api.OpenThemeDataForDpi(nullptr, L"BUTTON", 96));
    EXPECT_EQ(nullptr, api.OpenThemeData(nullptr, L"BUTTON"));
    EXPECT_EQ(E_NOINTERFACE, api.CloseThemeData((HTHEME)1));
    EXPECT_EQ(0, api.IsThemeActive());
    EXPECT_EQ(E_NOINTERFACE, api.DrawThemeBackground((HTHEME)1, nullptr, 1, 1, &rect, nullptr));
    EXPECT_EQ(E_NOINTERFACE, api.SetWindowTheme(nullptr, L"Explorer", nullptr));
    EXPECT_EQ(0, api.IsThemeBackgroundPartiallyTransparent((HTHEME)1, 1, 1));
    EXPECT_EQ(E_NOINTERFACE, api.DrawThemeParentBackground(nullptr, nullptr, nullptr));
    SIZE size;
    EXPECT_EQ(E_NOINTERFACE, api.GetThemePartSize((HTHEME)1, nullptr, 1, 1, nullptr, TS_TRUE, &size));
    BOOL dark = TRUE;
    EXPECT_EQ((HRESULT)0x80263001, api.DwmSetWindowAttribute(nullptr, 20, &dark, sizeof dark));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(0, api.ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", 1, &descriptor, nullptr));
    EXPECT_EQ(0, api.InitializeSecurityDescriptor(nullptr, 1));
    EXPECT_EQ(0, api.SetSecurityDescriptorDacl(nullptr, TRUE, nullptr, FALSE));
    EXPECT_EQ(nullptr, api.BuildSecurityDescriptor(nullptr));
    EXPECT_EQ(nullptr, api.BuildSecurityDescriptor(L"D:(A;;GA;;;WD)"));
}

TEST(OptionalApi, CompositeEntriesFallBackToTheClassicFunctions)
{
    OptionalApiTable empty = {};
    OptionalApi api(empty);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), api.SystemMetricForDpi(SM_CXICON, 192));

    RECT mine = {0, 0, 100, 50}, classic = mine;
    EXPECT_TRUE(api.AdjustWindowRectForDpi(&mine, WS_OVERLAPPEDWINDOW, FALSE, 0, 192));
    AdjustWindowRectEx(&classic, WS_OVERLAPPEDWINDOW, FALSE, 0);
    EXPECT_TRUE(EqualRect(&mine, &classic));

    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    EXPECT_TRUE(api.SystemParameterForDpi(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0, 192));
    EXPECT_NE(0, metrics.lfMessageFont.lfFaceName[0]);

    // The DC of the screen stands in for a window's DPI.
    HDC screen = GetDC(nullptr);
    UINT screenDpi = (UINT)GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(screenDpi, api.WindowDpi(nullptr));

    POINT origin = {0, 0};
    RECT monitor, work;
    EXPECT_FALSE(api.MonitorRects(origin, &monitor, &work)); // no MonitorFromPoint
}

struct Recorded {
    UINT dpi = 0;
    UINT param = 0;
    UINT cbSize = 0;
    int calls = 0;
} recorded;

int WINAPI FakeMetricsForDpi(int index, UINT dpi)
{
    ++recorded.calls;
    recorded.dpi = dpi;
    return index == SM_CXICON ? (int)(32 * dpi / 96) : 0;
}

BOOL WINAPI FakeParametersForDpi(UINT, UINT param, void* data, UINT, UINT dpi)
{
    ++recorded.calls;
    recorded.dpi = dpi;
    recorded.param = param;
    recorded.cbSize = ((NONCLIENTMETRICSW*)data)->cbSize;
    return TRUE;
}

HMONITOR WINAPI FakeMonitorFromPoint(POINT, DWORD)
{
    return (HMONITOR)0x1234;
}

TEST(OptionalApi, CompositeEntriesUseTheDpiFunctionsWhenPresent)
{
    OptionalApiTable table = {};
    table.GetSystemMetricsForDpi = &FakeMetricsForDpi;
    table.SystemParametersInfoForDpi = &FakeParametersForDpi;
    OptionalApi api(table);
    recorded = Recorded();
    EXPECT_EQ(64, api.SystemMetricForDpi(SM_CXICON, 192));
    EXPECT_EQ(192u, recorded.dpi);
    // Without a DPI the classic function answers.
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), api.SystemMetricForDpi(SM_CXICON, 0));
    EXPECT_EQ(1, recorded.calls);

    // Both structure sizes reach the DPI variant as the caller declared them.
    NONCLIENTMETRICSW metrics = {};
    for (UINT size : {500u, (UINT)sizeof(NONCLIENTMETRICSW)}) {
        metrics.cbSize = size;
        recorded = Recorded();
        EXPECT_TRUE(api.SystemParameterForDpi(SPI_GETNONCLIENTMETRICS, size, &metrics, 0, 144));
        EXPECT_EQ(size, recorded.param);
        EXPECT_EQ(size, recorded.cbSize);
        EXPECT_EQ(size, metrics.cbSize);
        EXPECT_EQ(144u, recorded.dpi);
    }
    // An action that does not depend on the DPI goes to the classic function.
    RECT work;
    EXPECT_TRUE(api.SystemParameterForDpi(SPI_GETWORKAREA, 0, &work, 0, 144));
    EXPECT_EQ(1, recorded.calls);
}

// The 500-byte structure of older headers, followed by bytes it does not own.
struct ShortMetrics {
    BYTE metrics[500];
    DWORD guard;
};

TEST(OptionalApi, TheSystemsDpiVariantFillsBothStructureSizesWithinBounds)
{
    OptionalApi& api = OptionalApi::Shared();
    ShortMetrics small;
    memset(&small, 0, sizeof small);
    ((NONCLIENTMETRICSW*)&small)->cbSize = 500;
    small.guard = 0xA5A5A5A5;
    EXPECT_TRUE(api.SystemParameterForDpi(SPI_GETNONCLIENTMETRICS, 500, &small, 0, 120));
    EXPECT_EQ(0xA5A5A5A5u, small.guard);
    EXPECT_EQ(500u, ((NONCLIENTMETRICSW*)&small)->cbSize);
    EXPECT_NE(0, ((NONCLIENTMETRICSW*)&small)->lfMessageFont.lfFaceName[0]);

    NONCLIENTMETRICSW full = {};
    full.cbSize = sizeof full;
    EXPECT_TRUE(api.SystemParameterForDpi(SPI_GETNONCLIENTMETRICS, sizeof full, &full, 0, 120));
    EXPECT_NE(0, full.lfMessageFont.lfFaceName[0]);
}

TEST(OptionalApi, MonitorRectsWithoutGetMonitorInfoUseThePrimaryScreen)
{
    OptionalApiTable table = {};
    table.MonitorFromPoint = &FakeMonitorFromPoint;
    OptionalApi api(table);
    POINT origin = {0, 0};
    RECT monitor, work, expectedWork;
    ASSERT_TRUE(api.MonitorRects(origin, &monitor, &work));
    EXPECT_EQ(0, monitor.left);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), monitor.right);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), monitor.bottom);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &expectedWork, 0);
    EXPECT_TRUE(EqualRect(&expectedWork, &work));
}

TEST(OptionalApi, TheSharedTableBindsTheSystemFunctions)
{
    OptionalApi& api = OptionalApi::Shared();
    EXPECT_EQ(&api, &OptionalApi::Shared());
    POINT origin = {0, 0};
    RECT monitor, work;
    ASSERT_TRUE(api.MonitorRects(origin, &monitor, &work));
    EXPECT_GT(monitor.right, monitor.left);
    EXPECT_LE(work.bottom, monitor.bottom);

    HDC dc = CreateCompatibleDC(nullptr);
    api.SetDCBrushColor(dc, 0x123456);
    EXPECT_EQ(0x123456u, api.SetDCBrushColor(dc, 0));
    DeleteDC(dc);
}

TEST(OptionalApi, SecurityDescriptorsFromTextOrWithANullDacl)
{
    OptionalApi api;
    PSECURITY_DESCRIPTOR open = api.BuildSecurityDescriptor(nullptr);
    ASSERT_NE(nullptr, open);
    EXPECT_TRUE(IsValidSecurityDescriptor(open));
    EXPECT_EQ(sizeof(SECURITY_DESCRIPTOR), LocalSize(open));
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = (PACL)1;
    ASSERT_TRUE(GetSecurityDescriptorDacl(open, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(nullptr, dacl);
    LocalFree(open);

    PSECURITY_DESCRIPTOR everyone = api.BuildSecurityDescriptor(L"D:(A;;GA;;;WD)");
    ASSERT_NE(nullptr, everyone);
    EXPECT_TRUE(IsValidSecurityDescriptor(everyone));
    ASSERT_TRUE(GetSecurityDescriptorDacl(everyone, &present, &dacl, &defaulted));
    EXPECT_NE(nullptr, dacl);
    LocalFree(everyone);

    EXPECT_EQ(nullptr, api.BuildSecurityDescriptor(L"this is no descriptor"));
}

TEST(InitializeCom, InitialisesOnceAndReportsAChangedMode)
{
    HRESULT first = E_FAIL, second = E_FAIL, changed = E_FAIL;
    std::thread apartment([&] {
        first = InitializeCom(COINIT_APARTMENTTHREADED);
        second = InitializeCom(COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(second))
            CoUninitialize();
        if (SUCCEEDED(first))
            CoUninitialize();
    });
    apartment.join();
    EXPECT_EQ(S_OK, first);
    EXPECT_EQ(S_FALSE, second);

    std::thread multithreaded([&] {
        HRESULT mta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        changed = InitializeCom(COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(changed))
            CoUninitialize();
        if (SUCCEEDED(mta))
            CoUninitialize();
    });
    multithreaded.join();
    EXPECT_EQ(RPC_E_CHANGED_MODE, changed);
}

} // namespace
