#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Answers the dialogs and message boxes that a process shows, from a thread
// of its own, with real button messages, and remembers each one's caption,
// text and whether it has a Help button.
class DialogAnswerer {
public:
    struct Seen {
        std::wstring caption;
        std::wstring text;
        bool hasHelp;
        DWORD threadId; // the thread the box belongs to
    };
    // What to do with the box: by default press one button.
    typedef std::function<void(HWND box, int index)> Action;

    // Boxes of other processes than this one (in the tests' own Wine
    // prefix, those the tests started).
    static const DWORD OtherProcesses = 0xFFFFFFFF;

    // Boxes of `process` (0: this one) get `action`.
    DialogAnswerer(DWORD process, Action action)
        : process_(process ? process : GetCurrentProcessId()), action_(action),
          thread_([this] { Run(); })
    {
    }
    ~DialogAnswerer()
    {
        running_ = false;
        thread_.join();
    }

    static Action Press(int button)
    {
        return [button](HWND box, int) { Click(box, button); };
    }
    // Presses the button through its own window, as a user's click would.
    static void Click(HWND box, int button)
    {
        HWND control = GetDlgItem(box, button);
        if (control)
            SendMessageW(control, BM_CLICK, 0, 0);
        else
            PostMessageW(box, WM_COMMAND, button, 0);
    }

    int Count() const { return count_; }
    std::vector<Seen> Boxes() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    static std::wstring TextOf(HWND window)
    {
        wchar_t text[2048] = {};
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_GETTEXT, 2048, (LPARAM)text, SMTO_BLOCK, 5000, &ignored);
        return text;
    }

    static BOOL CALLBACK Visit(HWND window, LPARAM self)
    {
        DialogAnswerer* boxes = (DialogAnswerer*)self;
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        bool wanted = boxes->process_ == OtherProcesses ? process != GetCurrentProcessId()
                                                        : process == boxes->process_;
        if (wanted && lstrcmpW(name, L"#32770") == 0 &&
            IsWindowVisible(window) && boxes->handled_.insert(window).second) {
            Seen seen = {TextOf(window), TextOf(GetDlgItem(window, 0xFFFF)),
                         GetDlgItem(window, IDHELP) != nullptr,
                         GetWindowThreadProcessId(window, nullptr)};
            {
                std::lock_guard<std::mutex> lock(boxes->mutex_);
                boxes->seen_.push_back(seen);
            }
            int index = boxes->count_++;
            boxes->action_(window, index);
        }
        return TRUE;
    }

    void Run()
    {
        while (running_) {
            EnumWindows(&Visit, (LPARAM)this);
            Sleep(20);
        }
    }

    DWORD process_;
    Action action_;
    std::atomic<bool> running_{true};
    std::atomic<int> count_{0};
    std::set<HWND> handled_;
    mutable std::mutex mutex_;
    std::vector<Seen> seen_;
    std::thread thread_;
};
