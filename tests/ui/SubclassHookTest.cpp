#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/SubclassHook.h"

namespace {

const DWORD ListTag = SubclassTag("lis1");
const DWORD TreeTag = SubclassTag("tree");

// What the callbacks of a test saw, in order.
struct Log {
    std::vector<std::string> entries;
    UINT watched = WM_GETTEXTLENGTH;
};

struct Listener {
    const char* name;
    Log* log;
    LRESULT answer = 0;   // answered for `watched` when `handles`
    bool handles = false;
    SubclassHook* detachOnSetText = nullptr;
};

int Record(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void* userData)
{
    Listener* listener = (Listener*)userData;
    if (message == WM_SETTEXT && listener->detachOnSetText)
        listener->detachOnSetText->Detach();
    if (message != listener->log->watched)
        return 0;
    listener->log->entries.push_back(listener->name);
    if (!listener->handles)
        return 0;
    *result = listener->answer;
    return 1;
}

class SubclassHookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        edit = CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, edit);
        original = (WNDPROC)GetWindowLongPtrW(edit, GWLP_WNDPROC);
    }
    void TearDown() override { DestroyWindow(edit); }

    WNDPROC CurrentProcedure() const { return (WNDPROC)GetWindowLongPtrW(edit, GWLP_WNDPROC); }
    std::wstring Text() const
    {
        wchar_t buffer[64] = L"";
        GetWindowTextW(edit, buffer, 64);
        return buffer;
    }

    HWND edit = nullptr;
    WNDPROC original = nullptr;
    Log log;
};

TEST(SubclassTag, FourCharactersFromTheMostSignificantByteDown)
{
    EXPECT_EQ(0x74726565u, SubclassTag("tree"));
    EXPECT_EQ(0x6C697331u, SubclassTag("lis1"));
    wchar_t name[SubclassHook::PropertyNameLength];
    SubclassHook::PropertyName(SubclassTag("tree"), name);
    EXPECT_STREQ(L"_C_SubClassing_Property_74726565", name);
    SubclassHook::PropertyName(0x00ABCDEF, name);
    EXPECT_STREQ(L"_C_SubClassing_Property_00ABCDEF", name);
}

TEST_F(SubclassHookTest, TheWindowPropertyLeadsToTheHook)
{
    TaggedSubclassHook<TreeTag> hook;
    Listener listener = {"tree", &log};
    ASSERT_TRUE(hook.Attach(edit, &Record, &listener));
    EXPECT_EQ(&hook, GetPropW(edit, L"_C_SubClassing_Property_74726565"));
    EXPECT_EQ(hook.Procedure(), CurrentProcedure());
    EXPECT_EQ(original, hook.PreviousProcedure());
    EXPECT_TRUE(hook.Detach());
    EXPECT_EQ(nullptr, GetPropW(edit, L"_C_SubClassing_Property_74726565"));
    EXPECT_FALSE(hook.Detach());
}

TEST_F(SubclassHookTest, ACallbackAnswersOrLeavesTheControlAlone)
{
    TaggedSubclassHook<ListTag> hook;
    Listener listener = {"lis1", &log};
    ASSERT_TRUE(hook.Attach(edit, &Record, &listener));
    // Passing on (0) keeps the edit control's behaviour.
    SetWindowTextW(edit, L"typed");
    EXPECT_EQ(L"typed", Text());
    EXPECT_EQ(5, SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
    SendMessageW(edit, EM_SETSEL, 1, 3);
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(1u, start);
    EXPECT_EQ(3u, end);
    // Handling (1) gives the callback's result instead.
    listener.handles = true;
    listener.answer = 42;
    EXPECT_EQ(42, SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
    EXPECT_EQ(2u, log.entries.size());
    hook.Detach();
}

TEST_F(SubclassHookTest, ASecondHookUnderTheSameTagIsRefused)
{
    TaggedSubclassHook<ListTag> first, second;
    Listener a = {"first", &log}, b = {"second", &log};
    ASSERT_TRUE(first.Attach(edit, &Record, &a));
    WNDPROC hooked = CurrentProcedure();
    EXPECT_FALSE(second.Attach(edit, &Record, &b));
    EXPECT_FALSE(first.Attach(edit, &Record, &a));
    EXPECT_FALSE(second.IsAttached());
    EXPECT_EQ(hooked, CurrentProcedure());
    SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    ASSERT_EQ(1u, log.entries.size()); // one hook, one call
    EXPECT_EQ("first", log.entries[0]);
    EXPECT_FALSE(second.Detach());
    EXPECT_EQ(hooked, CurrentProcedure());
    first.Detach();
}

TEST_F(SubclassHookTest, HooksOfDifferentTagsChainLatestFirst)
{
    TaggedSubclassHook<ListTag> earlier;
    TaggedSubclassHook<TreeTag> later;
    Listener a = {"lis1", &log}, b = {"tree", &log};
    ASSERT_TRUE(earlier.Attach(edit, &Record, &a));
    ASSERT_TRUE(later.Attach(edit, &Record, &b));
    EXPECT_EQ(earlier.Procedure(), later.PreviousProcedure());
    EXPECT_EQ(5, (SetWindowTextW(edit, L"chain"), SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0)));
    ASSERT_EQ(2u, log.entries.size());
    EXPECT_EQ("tree", log.entries[0]);
    EXPECT_EQ("lis1", log.entries[1]);
    // The later hook answering keeps the message from the earlier one.
    b.handles = true;
    b.answer = 9;
    log.entries.clear();
    EXPECT_EQ(9, SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"tree"}, log.entries);

    EXPECT_TRUE(later.Detach());
    EXPECT_EQ(earlier.Procedure(), CurrentProcedure());
    EXPECT_TRUE(earlier.Detach());
    EXPECT_EQ(original, CurrentProcedure());
}

TEST_F(SubclassHookTest, DetachThenAttachRestoresTheSamePreviousProcedure)
{
    TaggedSubclassHook<TreeTag> hook;
    Listener listener = {"tree", &log};
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(hook.Attach(edit, &Record, &listener));
        EXPECT_EQ(original, hook.PreviousProcedure());
        ASSERT_TRUE(hook.Detach());
        EXPECT_EQ(original, CurrentProcedure());
    }
    SetWindowTextW(edit, L"plain");
    EXPECT_EQ(L"plain", Text());
}

TEST_F(SubclassHookTest, DetachingOutOfOrderKeepsTheChainWhole)
{
    TaggedSubclassHook<ListTag> lower;
    TaggedSubclassHook<TreeTag> upper;
    Listener a = {"lis1", &log}, b = {"tree", &log};
    ASSERT_TRUE(lower.Attach(edit, &Record, &a));
    ASSERT_TRUE(upper.Attach(edit, &Record, &b));
    ASSERT_TRUE(lower.Detach());
    // The upper hook stays installed and now leads straight to the control.
    EXPECT_EQ(upper.Procedure(), CurrentProcedure());
    EXPECT_EQ(original, upper.PreviousProcedure());
    SetWindowTextW(edit, L"still");
    EXPECT_EQ(5, SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"tree"}, log.entries);
    ASSERT_TRUE(upper.Detach());
    EXPECT_EQ(original, CurrentProcedure());
}

TEST_F(SubclassHookTest, ACallbackMayDetachItsOwnHook)
{
    TaggedSubclassHook<TreeTag> hook;
    Listener listener = {"tree", &log};
    listener.detachOnSetText = &hook;
    ASSERT_TRUE(hook.Attach(edit, &Record, &listener));
    SetWindowTextW(edit, L"label"); // detaches during the message
    EXPECT_EQ(L"label", Text());   // which still reached the control
    EXPECT_FALSE(hook.IsAttached());
    EXPECT_EQ(original, CurrentProcedure());
}

TEST_F(SubclassHookTest, WithoutItsPropertyAHookProcedureAnswersZero)
{
    TaggedSubclassHook<TreeTag> hook;
    SetWindowTextW(edit, L"abc");
    EXPECT_EQ(0, CallWindowProcW(hook.Procedure(), edit, WM_GETTEXTLENGTH, 0, 0));
}

TEST_F(SubclassHookTest, AHookGoingOutOfScopeUnhooks)
{
    {
        TaggedSubclassHook<ListTag> hook;
        Listener listener = {"lis1", &log};
        ASSERT_TRUE(hook.Attach(edit, &Record, &listener));
    }
    EXPECT_EQ(original, CurrentProcedure());
    EXPECT_EQ(nullptr, GetPropW(edit, L"_C_SubClassing_Property_6C697331"));
    SetWindowTextW(edit, L"after");
    EXPECT_EQ(L"after", Text());
}

} // namespace

namespace {

// Messages reach whichever hook holds the tag now, however often the
// window's earlier hooks were found before.
TEST_F(SubclassHookTest, AReplacedHookIsNeverReachedAgain)
{
    HWND other = CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, other);
    TaggedSubclassHook<TreeTag> elsewhere;
    Listener bystander = {"other", &log};
    ASSERT_TRUE(elsewhere.Attach(other, &Record, &bystander));
    const char* names[] = {"hook0", "hook1", "hook2"};
    std::vector<Listener> listeners;
    for (const char* name : names)
        listeners.push_back({name, &log});
    TaggedSubclassHook<TreeTag> hooks[3];
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(hooks[round].Attach(edit, &Record, &listeners[round]));
        SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
        SendMessageW(other, WM_GETTEXTLENGTH, 0, 0);
        SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
        hooks[round].Detach(); // still alive, still holding its callback
    }
    EXPECT_EQ((std::vector<std::string>{"hook0", "other", "hook0", "hook1", "other", "hook1", "hook2",
                                        "other", "hook2"}),
              log.entries);
    EXPECT_EQ(original, CurrentProcedure());
    SetWindowTextW(edit, L"plain");
    EXPECT_EQ(5, SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
    elsewhere.Detach();
    DestroyWindow(other);
}

} // namespace
