#pragma once

#include <windows.h>

#include "services/LibraryHolder.h"
#include "ui/DialogTemplateFont.h"
#include "ui/WindowBase.h"

// A dialog shown from a copy of its template with the system's current
// message font, whose dialog procedure turns messages into calls of the
// virtual operations below.
class DialogWindow : public WindowBase {
public:
    // Option bits.
    static const DWORD Modeless = 0x01;       // Close destroys instead of ending the dialog
    static const DWORD DeleteOnClose = 0x02;  // Close deletes the object
    static const DWORD ShellDlg2Font = 0x04;  // "MS Shell Dlg 2" 8 where the system uses Segoe UI
    static const DWORD StartHidden = 0x08;    // the first show is suppressed
    static const DWORD FollowDarkMode = 0x10;
    static const DWORD DarkModeActive = 0x20; // state kept by ApplyTheme

    DialogWindow() = default;
    // Closes a window that still exists with result 0.
    ~DialogWindow() override;

    // Initialises DPI awareness and the common controls, then shows template
    // `templateId` of `instance` modally; returns the dialog's result.
    INT_PTR Run(HINSTANCE instance, int templateId, DWORD options, HWND owner);
    // The same for a template held in memory (`size` bytes), for dialogs
    // that carry no resource; `instance` is the module of their icons and
    // strings. -1 without a template.
    INT_PTR RunTemplate(HINSTANCE instance, const void* dialogTemplate, size_t size, DWORD options,
                        HWND owner);
    // Asks CanClose, then ends (or, modeless, destroys) the dialog.
    void Close(INT_PTR result);

    DWORD Options() const { return options_; }

    // The virtual operations, in slot order after the destructor.
    virtual int OnInitDialog();          // 0: the dialog ends with -1; 2: focus was set
    virtual int CanClose(INT_PTR result); // 0 keeps the dialog open
    virtual int OnCommand(int id, WPARAM wParam, LPARAM lParam);
    virtual int OnClose();
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual int OnDestroy();
    virtual void ApplyTheme();

    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Where the font rewrite learns the system's fonts (the system unless replaced).
    void UseFontPlatform(const DialogFontPlatform& platform) { fontPlatform_ = &platform; }

protected:
    void SetOptionBits(DWORD bits, bool on) { options_ = on ? (options_ | bits) : (options_ & ~bits); }

private:
    static DialogWindow* FromWindow(HWND window);
    static void CALLBACK ThemeTimerProcedure(HWND window, UINT message, UINT_PTR id, DWORD time);
    INT_PTR OnWindowPosChanging(WINDOWPOS* position);
    INT_PTR PaintDarkBackground(HDC dc);
    INT_PTR ColourDarkStatic(HDC dc);
    void Prepare(HINSTANCE instance, DWORD options);
    void InitializeCommonControls();

    DWORD options_ = 0;
    // The window whose GWLP_USERDATA leads here, until it is destroyed.
    HWND boundWindow_ = nullptr;
    LibraryHolder commonControls_;
    const DialogFontPlatform* fontPlatform_ = &SystemDialogFontPlatform();
};
