#include <gtest/gtest.h>

#include "ToolkitDialog.h"

namespace {

const int BottomRow[] = {IDC_TK_FILTER, IDC_TK_CHECK, IDC_TK_LINK, IDC_TK_EXIT};

RECT Moved(RECT rect, int dx, int dy, int dw = 0, int dh = 0)
{
    return {rect.left + dx, rect.top + dy, rect.right + dx + dw, rect.bottom + dy + dh};
}

void ExpectRect(const RECT& expected, const RECT& actual, const char* what)
{
    EXPECT_EQ(expected.left, actual.left) << what;
    EXPECT_EQ(expected.top, actual.top) << what;
    EXPECT_EQ(expected.right, actual.right) << what;
    EXPECT_EQ(expected.bottom, actual.bottom) << what;
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
    RECT tree = dialog.ItemRect(IDC_TK_TREE);
    RECT window = dialog.WindowRect();

    dialog.Resize(Width(window) + 100, Height(window) + 50);
    ExpectRect(Moved(before[0], 0, 50, 100), dialog.ItemRect(IDC_TK_FILTER), "filter box");
    ExpectRect(Moved(before[1], 100, 50), dialog.ItemRect(IDC_TK_CHECK), "check box");
    ExpectRect(Moved(before[2], 100, 50), dialog.ItemRect(IDC_TK_LINK), "link");
    ExpectRect(Moved(before[3], 100, 50), dialog.ItemRect(IDC_TK_EXIT), "Exit button");
    ExpectRect(tree, dialog.ItemRect(IDC_TK_TREE), "unanchored tree");

    // A minimised dialog reports an empty client area: nothing moves.
    SendMessageW(dialog.Window(), WM_SIZE, SIZE_MINIMIZED, 0);
    ExpectRect(Moved(before[3], 100, 50), dialog.ItemRect(IDC_TK_EXIT), "Exit button, minimised");

    dialog.Resize(Width(window), Height(window));
    for (int i = 0; i < 4; ++i)
        ExpectRect(before[i], dialog.ItemRect(BottomRow[i]), "after shrinking back");
    ExpectRect(tree, dialog.ItemRect(IDC_TK_TREE), "unanchored tree after shrinking back");
}

TEST(LayoutAnchors, EachValueTakesTheFirstRuleOfItsGroup)
{
    const RECT reference = {0, 0, 200, 100};
    const RECT control = {40, 20, 100, 50}; // 60 × 30
    struct Case {
        DWORD code;
        RECT expected; // for a client area of 301 × 151: dW 101, dH 51
    } cases[] = {
        {0, {40, 20, 100, 50}},
        {0x001, {141, 20, 201, 50}},
        {0x010, {60, 20, 120, 50}},        // 40 / 200 × 301 = 60.2
        {0x080, {90, 20, 150, 50}},        // 40 + 50.5
        {0x002, {40, 71, 100, 101}},
        {0x020, {40, 30, 100, 60}},        // 20 / 100 × 151 = 30.2
        {0x200, {40, 45, 100, 75}},        // 20 + 25.5
        {0x004, {40, 20, 201, 50}},
        {0x040, {40, 20, 150, 50}},        // 60 + 50.5
        {0x008, {40, 20, 100, 101}},
        {0x100, {40, 20, 100, 75}},        // 30 + 25.5
        {0x001 | 0x010 | 0x080, {141, 20, 201, 50}},
        {0x010 | 0x080, {60, 20, 120, 50}},
        {0x004 | 0x040, {40, 20, 201, 50}},
        {0x00F, {141, 71, 302, 152}},
    };
    for (const Case& c : cases) {
        RECT placed = LayoutAnchors::Place(c.code, control, reference, 301, 151);
        ExpectRect(c.expected, placed, ("code " + std::to_string(c.code)).c_str());
    }
    // Shrunk below the captured size, a stretched control keeps no negative size.
    RECT squeezed = LayoutAnchors::Place(0x004, control, reference, 100, 100);
    EXPECT_EQ(squeezed.left, squeezed.right);
    // A zero reference cannot be divided by: the value stays.
    RECT empty = {0, 0, 0, 0};
    ExpectRect(control, LayoutAnchors::Place(0x030, control, empty, 300, 150), "zero reference");
}

TEST_F(LayoutAnchorsTest, AReferenceSizeInDialogUnitsIsTheLayoutTheControlWasMadeFor)
{
    ToolkitDialog dialog;
    // The template is 330 × 200 dialog units; the dialog is shown larger
    // than that, so the first WM_SIZE already moves the button.
    RECT exitBefore = dialog.ItemRect(IDC_TK_EXIT);
    ASSERT_TRUE(dialog.anchors.Add(dialog.Item(IDC_TK_EXIT), LayoutAnchors::MoveRight, 330, 200));
    RECT units = {0, 0, 330, 200}, client;
    MapDialogRect(dialog.Window(), &units);
    dialog.Resize(Width(dialog.WindowRect()) + 40, Height(dialog.WindowRect()));
    GetClientRect(dialog.Window(), &client);
    int dW = client.right - units.right;
    ExpectRect(Moved(exitBefore, dW, 0), dialog.ItemRect(IDC_TK_EXIT), "Exit button");
}

TEST_F(LayoutAnchorsTest, AfterADpiChangeTheFirstResizeOnlyRecapturesTheLayout)
{
    ToolkitDialog dialog;
    HWND exitButton = dialog.Item(IDC_TK_EXIT);
    dialog.anchors.Add(exitButton, LayoutAnchors::MoveRight | LayoutAnchors::MoveDown);
    RECT window = dialog.WindowRect();

    // The system rescales the dialog for the new DPI, then WM_SIZE comes.
    FakeDpi::dpi = 144;
    RECT rescaled = Moved(dialog.ItemRect(IDC_TK_EXIT), 30, 20, 10, 5);
    MoveWindow(exitButton, rescaled.left, rescaled.top, Width(rescaled), Height(rescaled), TRUE);
    dialog.Resize(Width(window) + 60, Height(window) + 30);
    ExpectRect(rescaled, dialog.ItemRect(IDC_TK_EXIT), "first WM_SIZE at the new DPI");

    dialog.Resize(Width(window) + 70, Height(window) + 50);
    ExpectRect(Moved(rescaled, 10, 20), dialog.ItemRect(IDC_TK_EXIT), "next WM_SIZE");
}
