#include "ui/SubclassHook.h"

namespace {

const wchar_t PropertyPrefix[] = L"_C_SubClassing_Property_";
const int PrefixLength = (int)(sizeof PropertyPrefix / sizeof PropertyPrefix[0]) - 1;

bool HasPropertyPrefix(const wchar_t* name)
{
    // Atom-named properties arrive as small numbers, not texts.
    if (IS_INTRESOURCE(name))
        return false;
    for (int i = 0; i < PrefixLength; ++i) {
        if (name[i] != PropertyPrefix[i])
            return false;
    }
    return true;
}

// Every message of a hooked window looks its hook up. GetPropW is a kernel
// call on some systems (a server round trip under Wine, several times the
// cost of a tree insertion), so each thread remembers the hooks it found
// last. Any attach or detach anywhere makes every remembered hook stale.
volatile LONG g_hookGeneration = 0;

struct RememberedHook {
    HWND window;
    DWORD tag;
    LONG generation;
    SubclassHook* hook;
};
const int RememberedHooks = 8;
thread_local RememberedHook t_remembered[RememberedHooks];

RememberedHook& RememberedSlot(HWND window, DWORD tag)
{
    UINT_PTR mixed = (UINT_PTR)window ^ tag ^ (tag >> 8);
    return t_remembered[(mixed ^ (mixed >> 4)) % RememberedHooks];
}

void ForgetRememberedHooks()
{
    InterlockedIncrement(&g_hookGeneration);
}

struct HookSearch {
    WNDPROC procedure; // the procedure the wanted hook replaced
    SubclassHook* found;
};

} // namespace

void SubclassHook::PropertyName(DWORD tag, wchar_t (&name)[PropertyNameLength])
{
    // Formatted by hand: every message of a hooked window needs the name.
    static const wchar_t Digits[] = L"0123456789ABCDEF";
    for (int i = 0; i < PrefixLength; ++i)
        name[i] = PropertyPrefix[i];
    for (int i = 0; i < 8; ++i)
        name[PrefixLength + i] = Digits[(tag >> (28 - 4 * i)) & 0xF];
    name[PrefixLength + 8] = 0;
}

SubclassHook* SubclassHook::FromWindow(HWND window, DWORD tag)
{
    LONG generation = g_hookGeneration;
    RememberedHook& slot = RememberedSlot(window, tag);
    if (slot.window == window && slot.tag == tag && slot.generation == generation && slot.hook)
        return slot.hook;
    wchar_t name[PropertyNameLength];
    PropertyName(tag, name);
    SubclassHook* hook = (SubclassHook*)GetPropW(window, name);
    slot = {window, tag, generation, hook};
    return hook;
}

int SubclassHook::Attach(HWND window, Callback callback, void* userData)
{
    if (!window || previous_)
        return 0;
    wchar_t name[PropertyNameLength];
    PropertyName(tag_, name);
    if (GetPropW(window, name))
        return 0;
    window_ = window;
    callback_ = callback;
    userData_ = userData;
    previous_ = (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)procedure_);
    if (!previous_) {
        window_ = nullptr;
        return 0;
    }
    if (!SetPropW(window, name, this)) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)previous_);
        previous_ = nullptr;
        window_ = nullptr;
        return 0;
    }
    ForgetRememberedHooks();
    return 1;
}

int SubclassHook::Detach()
{
    if (!previous_)
        return 0;
    // Putting our previous procedure back while another hook sits on top
    // would cut that hook out and leave it calling into a detached one;
    // such a hook takes over our previous procedure instead.
    if ((WNDPROC)GetWindowLongPtrW(window_, GWLP_WNDPROC) == procedure_ || !UnlinkFromHookAbove())
        SetWindowLongPtrW(window_, GWLP_WNDPROC, (LONG_PTR)previous_);
    wchar_t name[PropertyNameLength];
    PropertyName(tag_, name);
    RemovePropW(window_, name);
    previous_ = nullptr;
    window_ = nullptr;
    ForgetRememberedHooks();
    return 1;
}

int SubclassHook::UnlinkFromHookAbove()
{
    struct Finder {
        static BOOL CALLBACK Visit(HWND window, LPWSTR name, HANDLE data, ULONG_PTR context)
        {
            HookSearch* search = (HookSearch*)context;
            SubclassHook* hook = (SubclassHook*)data;
            if (hook && HasPropertyPrefix(name) && hook->previous_ == search->procedure) {
                search->found = hook;
                return FALSE;
            }
            return TRUE;
        }
    };
    HookSearch search = {procedure_, nullptr};
    EnumPropsExW(window_, &Finder::Visit, (LPARAM)&search);
    if (!search.found || search.found == this)
        return 0;
    search.found->previous_ = previous_;
    return 1;
}

LRESULT SubclassHook::Dispatch(DWORD tag, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    SubclassHook* hook = FromWindow(window, tag);
    if (!hook)
        return 0;
    // Taken before the callback runs: it may detach the hook, and the
    // message must still reach the window's own procedure.
    WNDPROC previous = hook->previous_;
    LRESULT result = 0;
    if (hook->callback_ && hook->callback_(window, message, wParam, lParam, &result, hook->userData_) == 1)
        return result;
    if (!previous)
        return 0;
    return CallWindowProcW(previous, window, message, wParam, lParam);
}
