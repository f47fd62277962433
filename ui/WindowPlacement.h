#pragma once

#include <windows.h>

#include "services/SettingsStore.h"
#include "services/WideString.h"
#include "services/OptionalApi.h"

// Keeps a top-level window's position, size and show state between runs as
// one text, "show,left,top,right,bottom", in the DPI-unaware (96-DPI)
// coordinate space, so that it comes back on the monitor where it was left
// with the same size whatever that monitor's DPI.
//
// The text comes back from the registry, where anything may stand. Load
// never applies a placement that leaves the window off every monitor,
// smaller than it is when Load is called (the dialog template's size, as
// Load runs in WM_INITDIALOG), larger than the whole desktop, minimised or
// hidden unless asked to; what cannot be mended leaves the window where it is.
class WindowPlacement {
public:
    // Save flags.
    static constexpr DWORD SaveHiddenShowCommand = 0x040;
    // Load flags.
    static constexpr DWORD PositionOnly = 0x001;
    static constexpr DWORD AllowMinimized = 0x002;
    static constexpr DWORD NoReposition = 0x004;
    static constexpr DWORD SizeOnly = 0x008;
    static constexpr DWORD AllowHidden = 0x010;
    static constexpr DWORD ForceHidden = 0x020;
    static constexpr DWORD ForceMinimizedNoActivate = 0x080;
    static constexpr DWORD AcceptBottomRightOnMonitor = 0x100;
    static constexpr DWORD NoMonitorCheck = 0x200;

    // How far inside the nearest work area a window off every monitor lands.
    static constexpr int MonitorInset = 10;
    // Edges beyond this are no window position (messages carry 16 bits).
    static constexpr int CoordinateLimit = 32767;

    explicit WindowPlacement(OptionalApi& api = OptionalApi::Shared()) : api_(&api) {}
    virtual ~WindowPlacement() = default;
    WindowPlacement(const WindowPlacement&) = delete;
    WindowPlacement& operator=(const WindowPlacement&) = delete;

    // Stores `rectangle` with show command SW_SHOW, or without one the
    // window's restored rectangle and show command (0 for a hidden window
    // unless SaveHiddenShowCommand). Through `store` when given, else as
    // REG_SZ under `root`\`path`. 1 when written.
    virtual int Save(HWND window, HKEY root, const wchar_t* path, const wchar_t* name,
                     const RECT* rectangle, DWORD flags, SettingsStore* store = nullptr);
    // Applies the stored placement by the load flags; 1 when it was applied.
    virtual int Load(HWND window, HKEY root, const wchar_t* path, const wchar_t* name, DWORD flags,
                     SettingsStore* store = nullptr);

    static int Format(int showCommand, const RECT& rectangle, WideString& text);
    // Exactly five numbers; 0 for anything else.
    [[nodiscard]] static int Parse(const wchar_t* text, int* showCommand, RECT* rectangle);
    // The stored show command after the load flags' rules.
    static int AdjustShowCommand(int stored, DWORD flags);

private:
    int ChooseRectangle(HWND window, const RECT& stored, DWORD flags, RECT* target);
    void FitSize(const RECT& current, long long* width, long long* height);
    void KeepOnMonitor(DWORD flags, long long width, long long height, long long* left, long long* top);
    bool IsOnMonitor(long long x, long long y);
    int Apply(HWND window, int showCommand, const RECT& target, DWORD flags);

    OptionalApi* api_;
};
