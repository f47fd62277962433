#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "FakeFonts.h"
#include "TemplateBuilder.h"
#include "ui/DialogTemplateFont.h"
#include "ui/ModuleResources.h"
#include "ui/uitest.h"

namespace {

const DWORD DialogStyle = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION;
const WORD Button = 0x0080, Edit = 0x0081, Static = 0x0082;

TemplateBuilder ClassicWithControls(const wchar_t* face, WORD points)
{
    TemplateBuilder t(false, DialogStyle, face, points);
    t.Item(IDOK, Button, L"OK").Item(IDC_LABEL, Static, L"Label").Item(IDC_TEXT, Edit, L"");
    return t;
}

// Runs the rewrite and keeps its result for the checks.
struct Rewritten {
    Rewritten(const std::vector<BYTE>& input, int preferShellDlg2, FakeFonts& fonts)
    {
        DialogFontPlatform platform = fonts.Platform();
        copy = (BYTE*)RewriteTemplateFont(input.data(), input.size(), preferShellDlg2, platform, &size);
    }
    ~Rewritten() { free(copy); }
    BYTE* copy = nullptr;
    size_t size = 0;
};

// The rewritten copy must be the expected template byte for byte, followed
// only by the zeroed slack of its allocation.
void ExpectTemplate(const Rewritten& result, const std::vector<BYTE>& input,
                    const std::vector<BYTE>& expected, size_t oldFace, size_t newFace)
{
    ASSERT_NE(nullptr, result.copy);
    EXPECT_EQ(input.size() + 2 * newFace + 4 - 2 * oldFace, result.size);
    ASSERT_GE(result.size, expected.size());
    EXPECT_EQ(expected, std::vector<BYTE>(result.copy, result.copy + expected.size()));
    for (size_t i = expected.size(); i < result.size; ++i)
        EXPECT_EQ(0, result.copy[i]) << "slack byte " << i;
}

TEST(TemplateFont, ClassicMsSansSerifBecomesTheSegoeUiMessageFont)
{
    FakeFonts fonts; // Segoe UI, lfHeight -12 at 96 DPI: 9 points
    std::vector<BYTE> input = ClassicWithControls(L"MS Sans Serif", 8).Bytes();
    Rewritten result(input, 0, fonts);
    ExpectTemplate(result, input, ClassicWithControls(L"Segoe UI", 9).Bytes(), 13, 8);

    // The controls are the same bytes, now at the DWORD-aligned offset
    // after the new name.
    DialogTemplateLayout before, after;
    ASSERT_TRUE(ParseDialogTemplate(input.data(), input.size(), &before));
    ASSERT_TRUE(ParseDialogTemplate(result.copy, result.size, &after));
    EXPECT_EQ(0u, after.itemsOffset % 4);
    EXPECT_EQ(after.faceOffset + 2 * (8 + 1), after.itemsOffset); // 9 characters already end aligned
    EXPECT_EQ(3, after.itemCount);
    EXPECT_EQ(0, memcmp(input.data() + before.itemsOffset, result.copy + after.itemsOffset,
                        input.size() - before.itemsOffset));
}

TEST(TemplateFont, ExtendedTemplatesKeepWeightItalicAndCharacterSet)
{
    FakeFonts fonts;
    TemplateBuilder original(true, DialogStyle, L"MS Shell Dlg", 8);
    original.Weight(700, 1, 0).Menu(108).Item(IDOK, Button, L"OK", {1, 2, 3, 4, 5});
    original.ItemOfClass(1005, L"SysListView32", 7);
    TemplateBuilder expected = original;
    expected.Face(L"Segoe UI", 9);
    std::vector<BYTE> input = original.Bytes();
    Rewritten result(input, 0, fonts);
    ExpectTemplate(result, input, expected.Bytes(), 12, 8);
}

TEST(TemplateFont, ShellDlg2PreferenceAppliesOnlyOverSegoeUi)
{
    FakeFonts fonts;
    std::vector<BYTE> input = ClassicWithControls(L"MS Sans Serif", 8).Bytes();
    {
        Rewritten result(input, 1, fonts);
        ExpectTemplate(result, input, ClassicWithControls(L"MS Shell Dlg 2", 8).Bytes(), 13, 14);
    }
    fonts.installed = {L"Segoe UI"}; // no MS Shell Dlg 2: the preference cannot apply
    {
        Rewritten result(input, 1, fonts);
        ExpectTemplate(result, input, ClassicWithControls(L"Segoe UI", 9).Bytes(), 13, 8);
    }
    fonts = FakeFonts();
    fonts.messageFace = L"Tahoma";
    fonts.height = -11;
    {
        Rewritten result(input, 1, fonts);
        ExpectTemplate(result, input, ClassicWithControls(L"Tahoma", 8).Bytes(), 13, 6);
    }
}

TEST(TemplateFont, PointSizeFollowsTheScreenDpi)
{
    struct Case {
        LONG height;
        int dpi;
        WORD points;
    } cases[] = {{-12, 96, 9}, {-15, 120, 9}, {-18, 144, 9}, {-16, 96, 12}, {-24, 192, 9},
                 {12, 96, 9} /* a cell height counts as its size */, {0, 96, 8}};
    std::vector<BYTE> input = ClassicWithControls(L"System", 10).Bytes();
    for (const Case& c : cases) {
        FakeFonts fonts;
        fonts.height = c.height;
        fonts.pixelsPerInch = c.dpi;
        Rewritten result(input, 0, fonts);
        ExpectTemplate(result, input, ClassicWithControls(L"Segoe UI", c.points).Bytes(), 6, 8);
    }
}

TEST(TemplateFont, AMissingMessageFaceFallsBackToTheShellFonts)
{
    std::vector<BYTE> input = ClassicWithControls(L"MS Shell Dlg", 8).Bytes();
    FakeFonts fonts;
    fonts.messageFace = L"Microsoft JhengHei UI";
    fonts.installed = {L"MS Shell Dlg 2"};
    {
        Rewritten result(input, 0, fonts);
        ExpectTemplate(result, input, ClassicWithControls(L"MS Shell Dlg 2", 8).Bytes(), 12, 14);
    }
    fonts.installed.clear();
    {
        Rewritten result(input, 0, fonts);
        ExpectTemplate(result, input, ClassicWithControls(L"MS Shell Dlg", 8).Bytes(), 12, 12);
    }
    fonts.installed = {L"Microsoft JhengHei UI"};
    {
        Rewritten result(input, 0, fonts);
        ExpectTemplate(result, input, ClassicWithControls(L"Microsoft JhengHei UI", 9).Bytes(), 12, 21);
    }
}

TEST(TemplateFont, TemplatesThatStayUnchanged)
{
    FakeFonts fonts;
    const wchar_t* keptFaces[] = {L"Arial", L"MS Shell Dlg 2", L"ms sans serif", L"MS Sans Serif "};
    for (const wchar_t* face : keptFaces) {
        std::vector<BYTE> input = ClassicWithControls(face, 8).Bytes();
        Rewritten result(input, 1, fonts);
        EXPECT_EQ(nullptr, result.copy) << "face " << std::string(face, face + wcslen(face));
    }
    TemplateBuilder noFont(false, DS_MODALFRAME | WS_POPUP, L"", 0);
    noFont.Item(IDOK, Button, L"OK");
    Rewritten withoutSetFont(noFont.Bytes(), 0, fonts);
    EXPECT_EQ(nullptr, withoutSetFont.copy);
    // None of these needed the system's fonts.
    EXPECT_EQ(0, fonts.metricReads);

    std::vector<BYTE> input = ClassicWithControls(L"MS Sans Serif", 8).Bytes();
    const wchar_t* foreignMessageFaces[] = {L"Arial", L"Segoe UI Variable", L"segoe ui", L""};
    for (const wchar_t* face : foreignMessageFaces) {
        fonts.messageFace = face;
        Rewritten result(input, 0, fonts);
        EXPECT_EQ(nullptr, result.copy);
    }
    fonts = FakeFonts();
    fonts.metricsFail = true;
    Rewritten failed(input, 0, fonts);
    EXPECT_EQ(nullptr, failed.copy);
}

TEST(TemplateFont, TemplatesWithoutControlsOrEndingAtTheFace)
{
    FakeFonts fonts;
    std::vector<BYTE> input = TemplateBuilder(true, DialogStyle, L"MS Shell Dlg", 8).Bytes();
    Rewritten result(input, 0, fonts);
    ExpectTemplate(result, input, TemplateBuilder(true, DialogStyle, L"Segoe UI", 9).Bytes(), 12, 8);
}

TEST(TemplateFont, ResourceTemplatesParseAsTheResourceCompilerWroteThem)
{
    struct Case {
        int id;
        bool extended;
        int items;
        const wchar_t* face;
    } cases[] = {{IDD_EXTENDED, true, 5, L"MS Shell Dlg"},
                 {IDD_CLASSIC, false, 3, L"MS Sans Serif"},
                 {IDD_NO_FONT, false, 2, nullptr}};
    for (const Case& c : cases) {
        DWORD size = 0;
        const BYTE* bytes = (const BYTE*)FindModuleResource(nullptr, RT_DIALOG, MAKEINTRESOURCEW(c.id), 1033, &size);
        ASSERT_NE(nullptr, bytes) << c.id;
        DialogTemplateLayout layout;
        ASSERT_TRUE(ParseDialogTemplate(bytes, size, &layout)) << c.id;
        EXPECT_EQ(c.extended, layout.extended);
        EXPECT_EQ(c.items, layout.itemCount);
        EXPECT_LE(layout.end, (size_t)size);
        EXPECT_EQ(c.face != nullptr, layout.hasFont);
        if (c.face) {
            std::wstring face((const wchar_t*)(bytes + layout.faceOffset), layout.faceLength);
            EXPECT_EQ(c.face, face);
        }
    }
}

TEST(TemplateFont, TheSystemPlatformAnswers)
{
    const DialogFontPlatform& system = SystemDialogFontPlatform();
    LOGFONTW font;
    ASSERT_TRUE(system.ReadMessageFont(&font, system.context));
    EXPECT_NE(0, font.lfFaceName[0]);
    EXPECT_GT(system.ScreenPixelsPerInchY(system.context), 0);

    struct First {
        static int CALLBACK Take(const LOGFONTW* f, const TEXTMETRICW*, DWORD, LPARAM out)
        {
            lstrcpynW((wchar_t*)out, f->lfFaceName, LF_FACESIZE);
            return 0;
        }
    };
    wchar_t some[LF_FACESIZE] = L"";
    HDC screen = GetDC(nullptr);
    LOGFONTW all = {};
    all.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(screen, &all, &First::Take, (LPARAM)some, 0);
    ReleaseDC(nullptr, screen);
    ASSERT_NE(0, some[0]);
    EXPECT_TRUE(system.IsFaceInstalled(some, system.context));
    EXPECT_FALSE(system.IsFaceInstalled(L"Quillmere No Such Face", system.context));
}

// --- hostile templates -------------------------------------------------------

// Bytes placed so that the first byte after them lies on an inaccessible
// page: any read past the block faults at once.
class GuardedBlock {
public:
    explicit GuardedBlock(const std::vector<BYTE>& data)
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        size_t page = info.dwPageSize;
        size_t pages = (data.size() + page - 1) / page + 1;
        base_ = (BYTE*)VirtualAlloc(nullptr, pages * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(base_ + (pages - 1) * page, page, PAGE_NOACCESS, &old);
        bytes_ = base_ + (pages - 1) * page - data.size();
        if (!data.empty())
            memcpy(bytes_, data.data(), data.size());
        size_ = data.size();
    }
    ~GuardedBlock() { VirtualFree(base_, 0, MEM_RELEASE); }
    const BYTE* Bytes() const { return bytes_; }
    size_t Size() const { return size_; }

private:
    BYTE* base_;
    BYTE* bytes_;
    size_t size_;
};

// What must hold for any input: no read past it, and a copy only for a
// well-formed template, whose items come out unchanged.
void CheckHostile(const std::vector<BYTE>& data, FakeFonts& fonts, int* rewritten)
{
    GuardedBlock block(data);
    DialogTemplateLayout in;
    int parsed = ParseDialogTemplate(block.Bytes(), block.Size(), &in);
    if (parsed) {
        ASSERT_LE(in.end, block.Size());
        ASSERT_LE(in.itemsOffset, in.end + 3);
    }
    DialogFontPlatform platform = fonts.Platform();
    size_t size = 0;
    BYTE* copy = (BYTE*)RewriteTemplateFont(block.Bytes(), block.Size(), 0, platform, &size);
    if (!copy)
        return;
    ++*rewritten;
    ASSERT_TRUE(parsed) << "a malformed template was rewritten";
    DialogTemplateLayout out;
    ASSERT_TRUE(ParseDialogTemplate(copy, size, &out));
    EXPECT_EQ(in.itemCount, out.itemCount);
    EXPECT_EQ(in.extended, out.extended);
    if (block.Size() > in.itemsOffset) {
        EXPECT_EQ(0, memcmp(block.Bytes() + in.itemsOffset, copy + out.itemsOffset,
                            block.Size() - in.itemsOffset));
    }
    free(copy);
}

std::vector<std::vector<BYTE>> SampleTemplates()
{
    std::vector<std::vector<BYTE>> samples;
    samples.push_back(ClassicWithControls(L"MS Sans Serif", 8).Bytes());
    TemplateBuilder extended(true, DialogStyle, L"MS Shell Dlg", 8);
    extended.Menu(3).Item(IDOK, Button, L"OK", {9, 9, 9}).ItemOfClass(7, L"SysTreeView32", 4);
    samples.push_back(extended.Bytes());
    samples.push_back(TemplateBuilder(false, DialogStyle, L"System", 8).Bytes());
    return samples;
}

TEST(TemplateFont, EveryTruncationIsRefusedWithoutReadingPastTheBlock)
{
    FakeFonts fonts;
    int rewritten = 0;
    for (const std::vector<BYTE>& sample : SampleTemplates()) {
        DialogTemplateLayout layout;
        ASSERT_TRUE(ParseDialogTemplate(sample.data(), sample.size(), &layout));
        for (size_t n = 0; n < sample.size(); ++n) {
            std::vector<BYTE> cut(sample.begin(), sample.begin() + n);
            int before = rewritten;
            CheckHostile(cut, fonts, &rewritten);
            // Cut inside a field or an item: nothing to rewrite.
            if (n < layout.end) {
                EXPECT_EQ(before, rewritten) << "truncated to " << n << " of " << sample.size();
            }
        }
        CheckHostile(sample, fonts, &rewritten);
    }
    EXPECT_GE(rewritten, 3);
}

TEST(TemplateFont, ItemsClaimingMoreThanTheBlockHoldsAreRefused)
{
    FakeFonts fonts;
    std::vector<BYTE> input = ClassicWithControls(L"MS Sans Serif", 8).Bytes();
    std::vector<BYTE> moreItems = input;
    moreItems[8] = 4; // cdit says four controls, three follow
    Rewritten tooMany(moreItems, 0, fonts);
    EXPECT_EQ(nullptr, tooMany.copy);

    TemplateBuilder extra(false, DialogStyle, L"MS Sans Serif", 8);
    extra.Item(IDOK, Button, L"OK", {1, 2});
    std::vector<BYTE> longExtra = extra.Bytes();
    longExtra[longExtra.size() - 4] = 0x40; // creation data of 64 bytes, two present
    Rewritten tooLong(longExtra, 0, fonts);
    EXPECT_EQ(nullptr, tooLong.copy);

    EXPECT_EQ(nullptr, RewriteTemplateFont(nullptr, 100, 0, fonts.Platform()));
}

TEST(TemplateFont, RandomAndMutatedBlocksNeverFault)
{
    FakeFonts fonts;
    std::mt19937 random(20240611);
    int rewritten = 0;
    // Thoroughly random blocks, then blocks with a plausible header so the
    // walk gets past the first fields.
    for (int i = 0; i < 3000; ++i) {
        std::vector<BYTE> data(random() % 160);
        for (BYTE& b : data)
            b = (BYTE)random();
        if (i % 2 && data.size() >= 26) {
            bool extended = i % 4 == 1;
            if (extended)
                data[2] = data[3] = 0xFF;
            data[extended ? 12 : 0] |= DS_SETFONT;
            data[extended ? 16 : 8] %= 4;
            data[extended ? 17 : 9] = 0;
        }
        CheckHostile(data, fonts, &rewritten);
    }
    // Valid templates with a few bytes changed.
    std::vector<std::vector<BYTE>> samples = SampleTemplates();
    for (int i = 0; i < 3000; ++i) {
        std::vector<BYTE> data = samples[i % samples.size()];
        int changes = 1 + random() % 3;
        for (int c = 0; c < changes; ++c)
            data[random() % data.size()] = (BYTE)random();
        CheckHostile(data, fonts, &rewritten);
    }
    // Most mutations hit bytes the rewrite does not care about.
    EXPECT_GT(rewritten, 500);
}

} // namespace
