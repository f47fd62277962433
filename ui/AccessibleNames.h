#pragma once

#include <windows.h>

#include <vector>

struct IAccPropServices;

// The names screen readers announce for controls that show none of their
// own (a tree, a list, an edit box without a label beside it), set through
// the platform's dynamic annotation of the control's client object and
// cleared again while the controls still exist. Where the annotation
// service is missing (Windows before XP), the controls stay unnamed.
class AccessibleNames {
public:
    AccessibleNames() = default;
    ~AccessibleNames() { ClearAll(); }
    AccessibleNames(const AccessibleNames&) = delete;
    AccessibleNames& operator=(const AccessibleNames&) = delete;

    // 1 when the name was handed to the annotation service.
    int Set(HWND control, const wchar_t* name);
    // Removes every name set and releases the service (and COM, when this
    // object started it for the thread).
    void ClearAll();

private:
    IAccPropServices* Services();

    IAccPropServices* services_ = nullptr;
    bool comStarted_ = false;
    bool triedServices_ = false;
    std::vector<HWND> named_;
};
