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
    HTREEITEM parent = TVI_ROOT, last = nullptr;
    for (int i = 0; i < 40; ++i) {
        wchar_t text[40];
        swprintf(text, 40, L"Device %d with a longer name", i);
        TVINSERTSTRUCTW insert = {};
        insert.hParent = i % 6 ? parent : TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        insert.item.pszText = text;
        last = TreeView_InsertItem(tree, &insert);
        if (i % 6 == 0)
            parent = last;
        else
            TreeView_Expand(tree, parent, TVE_EXPAND);
    }
    TreeView_SelectItem(tree, last);
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
    // What was on the window before must not show through anywhere, not even
    // below the last item, where only the erase paints.
    Smear(tree);
    Repaint(tree);
    EXPECT_GT(painter.printed, 0);
    EXPECT_TRUE(ClientPicture(tree) == straight);

    // One item's update is painted by the control straight onto the window.
    int printed = painter.printed;
    RECT item;
    ASSERT_TRUE(TreeView_GetItemRect(tree, TreeView_GetRoot(tree), &item, FALSE));
    Repaint(tree, &item);
    EXPECT_EQ(printed, painter.printed);
    EXPECT_TRUE(ClientPicture(tree) == straight);
    hook.Detach();
    ImageList_Destroy(images);
}
