#pragma once

#include <windows.h>

// The four characters of a subclass tag as one number, the first character
// in the most significant byte: "tree" is 0x74726565.
constexpr DWORD SubclassTag(const char (&name)[5])
{
    return ((DWORD)(unsigned char)name[0] << 24) | ((DWORD)(unsigned char)name[1] << 16) |
           ((DWORD)(unsigned char)name[2] << 8) | (DWORD)(unsigned char)name[3];
}

// Sees the messages of a window that someone else owns: installs a window
// procedure of its own, offers every message to the owner's callback and
// passes the rest to the procedure it replaced. The window finds the hook
// again through the property "_C_SubClassing_Property_<tag in hex>", so each
// tag can hook a window once and different tags can stack on one window.
class SubclassHook {
public:
    // Returns 1 when it handled the message and stored its result.
    typedef int (*Callback)(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                            void* userData);

    static const int PropertyNameLength = 33; // 24 characters, 8 hex digits, terminator

    SubclassHook(const SubclassHook&) = delete;
    SubclassHook& operator=(const SubclassHook&) = delete;

    // 0 when the window already carries this tag (nothing changes then).
    int Attach(HWND window, Callback callback, void* userData);
    // 1 when a hook was removed, 0 when none was attached. A hook that is not
    // the top of the window's chain unlinks itself from the hook above it.
    int Detach();

    bool IsAttached() const { return previous_ != nullptr; }
    HWND Window() const { return window_; }
    DWORD Tag() const { return tag_; }
    WNDPROC PreviousProcedure() const { return previous_; }
    WNDPROC Procedure() const { return procedure_; }

    static void PropertyName(DWORD tag, wchar_t (&name)[PropertyNameLength]);

protected:
    SubclassHook(DWORD tag, WNDPROC procedure) : tag_(tag), procedure_(procedure) {}
    ~SubclassHook() = default;

    // What each tag's window procedure does.
    static LRESULT Dispatch(DWORD tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static SubclassHook* FromWindow(HWND window, DWORD tag);
    int UnlinkFromHookAbove();

    const DWORD tag_;
    const WNDPROC procedure_;
    WNDPROC previous_ = nullptr;
    Callback callback_ = nullptr;
    void* userData_ = nullptr;
    HWND window_ = nullptr;
};

// A hook with its tag's own window procedure. Wrappers embed one, e.g.
// `TaggedSubclassHook<SubclassTag("lis1")> hook_;`.
template <DWORD TagValue>
class TaggedSubclassHook : public SubclassHook {
public:
    TaggedSubclassHook() : SubclassHook(TagValue, &TagProcedure) {}
    ~TaggedSubclassHook() { Detach(); }

private:
    static LRESULT CALLBACK TagProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        return Dispatch(TagValue, window, message, wParam, lParam);
    }
};
