#include <gtest/gtest.h>

#include <vector>

#include "tests/ui/ControlHost.h"
#include "ui/BufferedPaint.h"
#include "ui/SubclassHook.h"

namespace {

// A tree hooked the way the tree wrapper hooks its control, counting the
// pictures the control drew into a bitmap.
struct Painter {
    BufferedPaint paint;
    int printed = 0;
};

int PaintMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                 void* userData)
{
    Painter* painter = (Painter*)userData;
    if (message == WM_PRINTCLIENT)
        ++painter->printed;
    return painter->paint.OnMessage(window, message, wParam, lParam, result);
}

std::vector<DWORD> ClientPicture(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB};
    std::vector<DWORD> pixels((size_t)client.right * client.bottom);
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, client.bottom, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    return pixels;
}

void Repaint(HWND window, const RECT* area = nullptr)
{
    InvalidateRect(window, area, TRUE);
    UpdateWindow(window);
}

// Leaves a colour the control never uses where it paints next.
void Smear(HWND window)
{
    HDC dc = GetDC(window);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &client, red);
    DeleteObject(red);
    ReleaseDC(window, dc);
}

HWND FilledTree(ControlHost& host, HIMAGELIST images)
{
    HWND tree = host.CreateChild(WC_TREEVIEWW, TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                                   TVS_SHOWSELALWAYS);
    TreeView_SetImageList(tree, images, TVSIL_NORMAL);
    HTREEITEM parent = TVI_ROOT;
    for (int i = 0; i < 40; ++i) {
        wchar_t text[40];
        swprintf(text, 40, L"Device %d with a longer name", i);
        TVINSERTSTRUCTW insert = {};
        insert.hParent = i % 6 ? parent : TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        insert.item.pszText = text;
        HTREEITEM item = TreeView_InsertItem(tree, &insert);
        if (i % 6 == 0)
            parent = item;
        else
            TreeView_Expand(tree, parent, TVE_EXPAND);
    }
    // A selection, which the picture shows too.
    TreeView_SelectItem(tree, TreeView_GetChild(tree, TreeView_GetRoot(tree)));
    return tree;
}

} // namespace

TEST(BufferedPaint, TheControlPaintsTheSamePictureThroughTheBitmapAndOnlyLargeUpdatesUseIt)
{
    ControlHost host(420, 320);
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    ImageList_AddIcon(images, LoadIconW(nullptr, IDI_INFORMATION));
    HWND tree = FilledTree(host, images);
    Repaint(tree);
    std::vector<DWORD> straight = ClientPicture(tree);

    Painter painter;
    TaggedSubclassHook<SubclassTag("tbuf")> hook;
    ASSERT_EQ(1, hook.Attach(tree, PaintMessage, &painter));
    // What was on the window before must not show through anywhere: the
    // erase belongs to the picture too.
    Smear(tree);
    Repaint(tree);
    EXPECT_GT(painter.printed, 0);
    EXPECT_TRUE(ClientPicture(tree) == straight);

    // Two rows far apart, as when a click moves the selection down the
    // tree, are painted by the control straight onto the window.
    int printed = painter.printed;
    RECT client, first, last;
    GetClientRect(tree, &client);
    HTREEITEM top = TreeView_GetFirstVisible(tree);
    ASSERT_TRUE(TreeView_GetItemRect(tree, top, &first, FALSE));
    last = first;
    RECT row;
    for (HTREEITEM item = top; item; item = TreeView_GetNextVisible(tree, item))
        if (TreeView_GetItemRect(tree, item, &row, FALSE) && row.bottom <= client.bottom)
            last = row;
    ASSERT_GT(last.top - first.bottom, client.bottom * 3 / 4) << "the rows span the window";
    InvalidateRect(tree, &first, TRUE);
    Repaint(tree, &last);
    EXPECT_EQ(printed, painter.printed);
    EXPECT_TRUE(ClientPicture(tree) == straight);
    hook.Detach();
    ImageList_Destroy(images);
}
