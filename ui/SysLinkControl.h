#pragma once

#include <windows.h>
#include <commctrl.h>

#include "ui/SubclassHook.h"

// A SysLink control made for a dialog: markup text with <a> links, where a
// click on a link with an address opens it in the user's browser and any
// other link is reported to the owner.
class SysLinkControl {
public:
    // Option bits of Create.
    static constexpr DWORD DialogUnits = 0x01;    // the rectangle is in dialog units
    static constexpr DWORD NoTabStop = 0x02;
    static constexpr DWORD ParentForwards = 0x04; // the parent hands its WM_NOTIFY to Notify itself

    // A link without an address was activated: its index, its id attribute.
    typedef void (*Callback)(int index, const wchar_t* id, void* userData);

    SysLinkControl() = default;
    virtual ~SysLinkControl() { Destroy(); }
    SysLinkControl(const SysLinkControl&) = delete;
    SysLinkControl& operator=(const SysLinkControl&) = delete;

    // 0 when the SysLink window cannot be made (comctl32 before version 6):
    // the caller shows a plain text instead. Ampersands are shown as they
    // are, not taken as mnemonics.
    [[nodiscard]] virtual int Create(HWND parent, int left, int top, int width, int height, const wchar_t* markup,
                       DWORD options, Callback callback, void* userData);
    // The parent's WM_NOTIFY. 1 when it was a click or Enter on this control.
    virtual int Notify(LPARAM lParam);
    virtual void Destroy();

    HWND Window() const { return link_; }

    // Whether `text` can stand in markup as an address or a link text: the
    // SysLink parser has no escapes, so a quote or an angle bracket would
    // end the attribute or start a tag.
    static bool IsMarkupSafe(const wchar_t* text);

private:
    static int ParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LRESULT* result, void* self);

    HWND link_ = nullptr;
    Callback callback_ = nullptr;
    void* userData_ = nullptr;
    TaggedSubclassHook<SubclassTag("sysl")> parentHook_;
};
