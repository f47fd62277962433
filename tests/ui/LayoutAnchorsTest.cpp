#include <gtest/gtest.h>

#include "ToolkitDialog.h"

namespace {

const int BottomRow[] = {IDC_TK_FILTER, IDC_TK_CHECK, IDC_TK_LINK, IDC_TK_EXIT};

RECT Moved(RECT rect, int dx, int dy, int dw = 0)
{
    return {rect.left + dx, rect.top + dy, rect.right + dx + dw, rect.bottom + dy};
}

class LayoutAnchorsTest : public ::testing::Test {
protected:
    void SetUp() override { FakeDpi::Reset(); }
    void TearDown() override { FakeDpi::Reset(); }
};

} // namespace

TEST_F(LayoutAnchorsTest, GrowingMovesTheBottomRowByTheDeltaAndShrinkingRestoresIt)
{
    ToolkitDialog dialog;
    for (int id : BottomRow)
        dialog.anchors.Add(dialog.Item(id), id == IDC_TK_FILTER ? 6 : 3);
    dialog.Show();
    RECT before[4];
    for (int i = 0; i < 4; ++i)
        before[i] = dialog.ItemRect(BottomRow[i]);
    RECT tree = dialog.ItemRect(IDC_TK_TREE), window = dialog.WindowRect();

    dialog.Resize(Width(window) + 100, Height(window) + 50);
    EXPECT_TRUE(SameRect(Moved(before[0], 0, 50, 100), dialog.ItemRect(IDC_TK_FILTER))) << "filter box";
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(SameRect(Moved(before[i], 100, 50), dialog.ItemRect(BottomRow[i]))) << BottomRow[i];
    EXPECT_TRUE(SameRect(tree, dialog.ItemRect(IDC_TK_TREE))) << "unanchored";
    // A minimised dialog reports an empty client area: nothing moves.
    SendMessageW(dialog.Window(), WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_TRUE(SameRect(Moved(before[3], 100, 50), dialog.ItemRect(IDC_TK_EXIT))) << "minimised";

    dialog.Resize(Width(window), Height(window));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(SameRect(before[i], dialog.ItemRect(BottomRow[i]))) << "shrunk back " << BottomRow[i];
}

TEST(LayoutAnchors, EachValueTakesTheFirstRuleOfItsGroup)
{
    const RECT reference = {0, 0, 200, 100}, control = {40, 20, 100, 50}; // 60 × 30
    struct Case {
        DWORD code;
        RECT expected; // for a client area of 301 × 151: dW 101, dH 51
    } cases[] = {
        {0, {40, 20, 100, 50}},           {0x001, {141, 20, 201, 50}},
        {0x010, {60, 20, 120, 50}},       {0x080, {90, 20, 150, 50}},   // 40 / 200 × 301; 40 + 50.5
        {0x002, {40, 71, 100, 101}},      {0x020, {40, 30, 100, 60}},   // 20 / 100 × 151
        {0x200, {40, 45, 100, 75}},       {0x004, {40, 20, 201, 50}},
        {0x040, {40, 20, 150, 50}},       {0x008, {40, 20, 100, 101}},
        {0x100, {40, 20, 100, 75}},       {0x001 | 0x010 | 0x080, {141, 20, 201, 50}},
        {0x010 | 0x080, {60, 20, 120, 50}}, {0x004 | 0x040, {40, 20, 201, 50}},
        {0x00F, {141, 71, 302, 152}},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(SameRect(c.expected, LayoutAnchors::Place(c.code, control, reference, 301, 151))) << c.code;
    RECT squeezed = LayoutAnchors::Place(0x004, control, reference, 100, 100);
    EXPECT_EQ(squeezed.left, squeezed.right) << "no negative width";
    const RECT empty = {0, 0, 0, 0};
    EXPECT_TRUE(SameRect(control, LayoutAnchors::Place(0x030, control, empty, 300, 150))) << "zero reference";
}

TEST_F(LayoutAnchorsTest, AReferenceSizeInDialogUnitsIsTheLayoutTheControlWasMadeFor)
{
    ToolkitDialog dialog;
    RECT exitBefore = dialog.ItemRect(IDC_TK_EXIT), units = {0, 0, 330, 200}, client;
    ASSERT_TRUE(dialog.anchors.Add(dialog.Item(IDC_TK_EXIT), LayoutAnchors::MoveRight, 330, 200));
    MapDialogRect(dialog.Window(), &units);
    dialog.Resize(Width(dialog.WindowRect()) + 40, Height(dialog.WindowRect()));
    GetClientRect(dialog.Window(), &client);
    EXPECT_TRUE(SameRect(Moved(exitBefore, client.right - units.right, 0), dialog.ItemRect(IDC_TK_EXIT)));
}

// A move to a 144-DPI monitor as the system does it: the dialog grows,
// its children move to their new places, and WM_DPICHANGED comes before
// or after; the WM_SIZE of the new size always comes before the children
// are in their places.
TEST_F(LayoutAnchorsTest, AfterADpiChangeInEitherOrderTheNextResizeKeepsBottomRowAndMargins)
{
    const int moved[] = {IDC_TK_TREE, IDC_TK_LIST, IDC_TK_DIVIDER, IDC_TK_FILTER,
                         IDC_TK_CHECK, IDC_TK_LINK, IDC_TK_EXIT};
    for (bool dpiMessageFirst : {true, false}) {
        SCOPED_TRACE(dpiMessageFirst ? "WM_DPICHANGED first" : "WM_DPICHANGED last");
        FakeDpi::Reset();
        ToolkitDialog dialog;
        dialog.Furnish();
        dialog.Show();
        RECT window = dialog.WindowRect();
        RECT suggested = {window.left, window.top, window.left + Width(window) * 3 / 2,
                          window.top + Height(window) * 3 / 2};
        auto announce = [&]() {
            SendMessageW(dialog.Window(), WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
        };
        FakeDpi::dpi = 144;
        if (dpiMessageFirst)
            announce();
        // The system resizes the dialog and moves its children in one go, with
        // no message loop in between to run what the dialog deferred.
        SetWindowPos(dialog.Window(), nullptr, 0, 0, Width(suggested), Height(suggested),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        for (int id : moved) {
            RECT r = dialog.ItemRect(id);
            MoveWindow(dialog.Item(id), r.left * 3 / 2, r.top * 3 / 2, Width(r) * 3 / 2, Height(r) * 3 / 2, TRUE);
        }
        if (!dpiMessageFirst)
            announce();
        ASSERT_TRUE(ToolkitDialog::WaitFor([&]() {
            return !dialog.anchors.IsRecapturePending() && !dialog.splitter.IsMeasurePending();
        }));
        RECT client, exitButton = dialog.ItemRect(IDC_TK_EXIT), filter = dialog.ItemRect(IDC_TK_FILTER);
        RECT list = dialog.ItemRect(IDC_TK_LIST);
        GetClientRect(dialog.Window(), &client);

        dialog.Resize(Width(suggested) + 100, Height(suggested) + 50);
        EXPECT_TRUE(SameRect(Moved(exitButton, 100, 50), dialog.ItemRect(IDC_TK_EXIT))) << "bottom row";
        EXPECT_TRUE(SameRect(Moved(filter, 0, 50, 100), dialog.ItemRect(IDC_TK_FILTER))) << "filter box";
        RECT grown = dialog.ItemRect(IDC_TK_LIST);
        EXPECT_EQ(list.right + 100, grown.right) << "the list keeps its right margin";
        EXPECT_EQ(list.bottom + 50, grown.bottom) << "and its bottom margin above the bottom row";
        EXPECT_LT(grown.bottom, dialog.ItemRect(IDC_TK_EXIT).top);
    }
}
