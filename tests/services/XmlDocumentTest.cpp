#include <gtest/gtest.h>

#include "common/TempDirectory.h"
#include "services/ComInit.h"
#include "services/XmlDocument.h"

#include <objbase.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct Visit {
    int kind;
    std::wstring name;
    std::wstring value;
};

struct Visits {
    std::vector<Visit> seen;
    int stopAt = -1; // answer 1 on this call (0-based)
};

int Record(int kind, IUnknown* node, const wchar_t* name, const wchar_t* value, void* data,
           XmlDocument* owner)
{
    Visits* visits = (Visits*)data;
    visits->seen.push_back({kind, name ? name : L"", value ? value : L""});
    return (int)visits->seen.size() - 1 == visits->stopAt ? 1 : 0;
}

std::wstring ReadOr(XmlDocument& document, const wchar_t* path, const wchar_t* fallback = L"<none>")
{
    WideString text;
    text = L"stale";
    if (!document.ReadPath(path, text))
        return fallback + std::wstring(text.Text());
    return text.Text();
}

// Wine's old object model lacks IXMLElement2 (so attributes cannot be
// listed) and refuses to append children; these probe the platform itself,
// so that the legacy parser is tested for everything its platform offers.
const CLSID ClsidXmlDocument = {0xCFC399AF, 0xD876, 0x11D0, {0x9C, 0x10, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID IidXmlDocument = {0xF52E2B61, 0x18A1, 0x11D1, {0xB1, 0x05, 0x00, 0x80, 0x5F, 0x49, 0x91, 0x6B}};
const IID IidXmlElement2 = {0x2B8DE2FF, 0x8D2D, 0x11D1, {0xB2, 0xFC, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0xA9}};

struct LegacyPlatform {
    bool listsAttributes = false;
    bool appendsChildren = false;
};

LegacyPlatform ProbeLegacyPlatform()
{
    LegacyPlatform platform;
    IXMLDocument* document = nullptr;
    if (FAILED(CoCreateInstance(ClsidXmlDocument, nullptr, CLSCTX_ALL, IidXmlDocument, (void**)&document)))
        return platform;
    VARIANT type, name;
    VariantInit(&type);
    VariantInit(&name);
    V_VT(&type) = VT_I4;
    V_I4(&type) = XMLELEMTYPE_ELEMENT;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(L"probe");
    IXMLElement* parent = nullptr;
    IXMLElement* child = nullptr;
    if (SUCCEEDED(document->createElement(type, name, &parent)) && parent) {
        IUnknown* element2 = nullptr;
        platform.listsAttributes = SUCCEEDED(parent->QueryInterface(IidXmlElement2, (void**)&element2));
        if (element2)
            element2->Release();
        BSTR tag = nullptr;
        if (SUCCEEDED(document->createElement(type, name, &child)) && child &&
            SUCCEEDED(child->get_tagName(&tag)) && tag)
            platform.appendsChildren = parent->addChild(child, -1, -1) == S_OK;
        SysFreeString(tag);
    }
    if (child)
        child->Release();
    if (parent)
        parent->Release();
    VariantClear(&name);
    document->Release();
    return platform;
}

class BothParsers : public ::testing::TestWithParam<XmlDocument::Backend> {
protected:
    void SetUp() override { ASSERT_TRUE(document.OpenBackend(GetParam(), XmlNoValidation | XmlNoExternals)); }
    bool IsDom() const { return GetParam() == XmlDocument::DomBackend; }
    bool ListsAttributes() const { return IsDom() || ProbeLegacyPlatform().listsAttributes; }
    bool AppendsChildren() const { return IsDom() || ProbeLegacyPlatform().appendsChildren; }

    XmlDocument document;
};

std::string ParserName(const ::testing::TestParamInfo<XmlDocument::Backend>& info)
{
    return info.param == XmlDocument::DomBackend ? "Dom" : "Legacy";
}

} // namespace

TEST(XmlDocument, OpensTheDomFirstAndNothingWhileClosed)
{
    XmlDocument document;
    WideString text;
    EXPECT_FALSE(document.LoadText(L"<a/>"));
    EXPECT_FALSE(document.ReadPath(L"a", text));
    EXPECT_EQ(nullptr, document.FindOrCreatePath(L"a"));
    EXPECT_FALSE(document.SaveFile(L"C:\\nowhere.xml"));
    ASSERT_TRUE(document.Open(XmlNoValidation | XmlNoExternals));
    EXPECT_EQ(XmlDocument::DomBackend, document.ActiveBackend());
    document.Close();
    EXPECT_EQ(XmlDocument::NoBackend, document.ActiveBackend());
    EXPECT_FALSE(document.LoadText(L"<a/>"));
}

TEST_P(BothParsers, ReadPathFindsChildrenIgnoringCase)
{
    ASSERT_TRUE(document.LoadText(L"<update><version>1.6</version><Other>x</Other></update>"));
    EXPECT_EQ(L"1.6", ReadOr(document, L"update\\version"));
    EXPECT_EQ(L"1.6", ReadOr(document, L"\\\\Update\\\\VERSION\\"));
    EXPECT_EQ(L"x", ReadOr(document, L"UPDATE\\other"));
    // A missing component fails the whole path and leaves no stale text.
    EXPECT_EQ(L"<none>", ReadOr(document, L"other\\version"));
    EXPECT_EQ(L"<none>", ReadOr(document, L"update\\missing"));
    EXPECT_EQ(L"<none>", ReadOr(document, L"update\\version\\deeper"));
    // "#text" is a step of the DOM only.
    EXPECT_EQ(IsDom() ? L"1.6" : L"<none>", ReadOr(document, L"update\\version\\#text"));
    EXPECT_EQ(L"<none>", ReadOr(document, L""));
    EXPECT_EQ(L"<none>", ReadOr(document, L"\\\\"));
}

TEST_P(BothParsers, ReadPathPrefersAttributesAndIgnoresCase)
{
    if (!ListsAttributes())
        GTEST_SKIP() << "this platform's old XML object model cannot list attributes";
    ASSERT_TRUE(document.LoadText(L"<update version=\"1.5\"/>"));
    EXPECT_EQ(L"1.5", ReadOr(document, L"update\\version"));
    EXPECT_EQ(L"1.5", ReadOr(document, L"UPDATE\\VERSION"));

    ASSERT_TRUE(document.LoadText(L"<update><version>1.6</version></update>"));
    EXPECT_EQ(L"1.6", ReadOr(document, L"update\\version"));
    EXPECT_EQ(L"1.6", ReadOr(document, L"\\\\Update\\\\Version\\"));

    ASSERT_TRUE(document.LoadText(L"<update version=\"attr\"><version>child</version></update>"));
    EXPECT_EQ(L"attr", ReadOr(document, L"update\\version"));
    // A missing component fails the whole path and leaves no stale text.
    EXPECT_EQ(L"<none>", ReadOr(document, L"other\\version"));
    EXPECT_EQ(L"<none>", ReadOr(document, L"update\\missing"));
    EXPECT_EQ(L"<none>", ReadOr(document, L""));
    EXPECT_EQ(L"<none>", ReadOr(document, L"\\\\"));
}

TEST_P(BothParsers, ReadPathWalksNestedElementsFromAGivenStart)
{
    if (!ListsAttributes())
        GTEST_SKIP() << "this platform's old XML object model cannot list attributes";
    ASSERT_TRUE(document.LoadText(
        L"<root><a><b id=\"7\">deep</b></a><a><b id=\"8\"/></a><c>x<d>y</d>z</c></root>"));
    EXPECT_EQ(L"7", ReadOr(document, L"root\\a\\b\\id"));
    EXPECT_EQ(L"deep", ReadOr(document, L"root\\a\\b"));
    WideString text;
    IUnknown* a = document.FindOrCreatePath(L"root\\a");
    ASSERT_NE(nullptr, a);
    EXPECT_TRUE(document.ReadPath(L"b\\id", text, a));
    EXPECT_STREQ(L"7", text.Text());
    IUnknown* b = document.FindChildOf(a, L"B", text);
    ASSERT_NE(nullptr, b);
    EXPECT_STREQ(L"deep", text.Text());
    b->Release();
    a->Release();
    if (IsDom()) {
        // The DOM's text of an element is that of all its descendants.
        EXPECT_EQ(L"xyz", ReadOr(document, L"root\\c"));
        EXPECT_EQ(L"xyz", ReadOr(document, L"root\\c\\#text"));
        // Only the exact "#text" reads the whole text; any other spelling
        // is a name like others and finds the first text child.
        EXPECT_EQ(L"x", ReadOr(document, L"root\\c\\#TEXT"));
    } else {
        EXPECT_EQ(L"<none>", ReadOr(document, L"root\\c\\#text"));
    }
}

TEST_P(BothParsers, EnumerationOffersAttributesThenChildrenUntilTheVisitorStops)
{
    if (!ListsAttributes())
        GTEST_SKIP() << "this platform's old XML object model cannot list attributes";
    ASSERT_TRUE(document.LoadText(L"<r><e one=\"1\" two=\"2\"><x>a</x><y>b</y><z>c</z></e></r>"));
    Visits all;
    EXPECT_EQ(0, document.EnumeratePath(L"r\\e", Record, &all));
    ASSERT_EQ(5u, all.seen.size());
    const wchar_t* names[] = {L"one", L"two", L"x", L"y", L"z"};
    const wchar_t* values[] = {L"1", L"2", L"a", L"b", L"c"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(i < 2 ? XmlAttributeNode : XmlChildNode, all.seen[i].kind);
        EXPECT_EQ(names[i], all.seen[i].name);
        EXPECT_EQ(values[i], all.seen[i].value);
    }
    Visits stopped;
    stopped.stopAt = 2;
    EXPECT_EQ(1, document.EnumeratePath(L"r\\e", Record, &stopped));
    EXPECT_EQ(3u, stopped.seen.size());

    Visits top;
    EXPECT_EQ(0, document.EnumeratePath(L"", Record, &top));
    ASSERT_EQ(1u, top.seen.size());
    EXPECT_EQ(L"e", top.seen[0].name);

    Visits none;
    EXPECT_EQ(0, document.EnumeratePath(L"r\\nothing", Record, &none));
    EXPECT_TRUE(none.seen.empty());

    // At document level the visitor is asked once, about the root itself.
    WideString text;
    IUnknown* current = nullptr;
    Visits root;
    root.stopAt = 0;
    EXPECT_EQ(1, document.FindChild(nullptr, Record, &root, text, &current));
    ASSERT_EQ(1u, root.seen.size());
    EXPECT_EQ(L"r", root.seen[0].name);
    ASSERT_NE(nullptr, current);
    current->Release();
}

TEST_P(BothParsers, FindOrCreatePathBuildsMissingElementsOnce)
{
    if (!AppendsChildren() || !ListsAttributes())
        GTEST_SKIP() << "this platform's old XML object model cannot append children";
    if (!IsDom()) {
        ASSERT_TRUE(document.LoadText(L"<a/>"));
    }
    IUnknown* c = document.FindOrCreatePath(L"a\\b\\c");
    ASSERT_NE(nullptr, c);
    EXPECT_TRUE(document.SetAttribute(c, L"k", L"v"));
    c->Release();
    IUnknown* d = document.FindOrCreatePath(L"A\\B\\d");
    ASSERT_NE(nullptr, d);
    d->Release();
    EXPECT_EQ(L"v", ReadOr(document, L"a\\b\\c\\k"));
    Visits children;
    document.EnumeratePath(L"a\\b", Record, &children);
    ASSERT_EQ(2u, children.seen.size());
    EXPECT_EQ(L"c", children.seen[0].name);
    EXPECT_EQ(L"d", children.seen[1].name);
    // There can be only one root: another first component fails outright.
    EXPECT_EQ(nullptr, document.FindOrCreatePath(L"other\\x"));
    Visits top;
    document.EnumeratePath(L"a", Record, &top);
    EXPECT_EQ(1u, top.seen.size());
}

TEST_P(BothParsers, EditsElementsTextsAndAttributes)
{
    if (!AppendsChildren() || !ListsAttributes())
        GTEST_SKIP() << "this platform's old XML object model cannot append children";
    ASSERT_TRUE(document.LoadText(L"<root keep=\"1\"/>"));
    IUnknown* root = document.FindOrCreatePath(L"root");
    ASSERT_NE(nullptr, root);
    IUnknown* item = nullptr;
    ASSERT_TRUE(document.CreateElement(root, L"item", L"first", &item));
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(L"first", ReadOr(document, L"root\\item"));
    EXPECT_TRUE(document.SetText(item, L"second & <more>"));
    EXPECT_EQ(L"second & <more>", ReadOr(document, L"root\\item"));
    EXPECT_TRUE(document.SetAttribute(root, L"keep", L"2"));
    EXPECT_TRUE(document.SetAttribute(root, L"new", L"\"quoted\""));
    EXPECT_EQ(L"2", ReadOr(document, L"root\\keep"));
    EXPECT_EQ(L"\"quoted\"", ReadOr(document, L"root\\new"));
    Visits attributes;
    document.EnumeratePath(L"root", Record, &attributes);
    EXPECT_EQ(3u, attributes.seen.size()); // keep, new, item: no duplicate keep
    EXPECT_FALSE(document.CreateElement(root, L"", nullptr, nullptr));
    EXPECT_FALSE(document.SetAttribute(root, L"", L"x"));

    EXPECT_TRUE(document.RemoveNode(root, item));
    EXPECT_EQ(L"<none>", ReadOr(document, L"root\\item"));
    item->Release();
    root->Release();
}

TEST(XmlDocument, DomMarkupProcessingInstructionAndRemoval)
{
    XmlDocument document;
    ASSERT_TRUE(document.Open(XmlNoValidation | XmlNoExternals));
    EXPECT_TRUE(document.AddProcessingInstruction(L"app", L"v=1"));
    IUnknown* root = nullptr;
    ASSERT_TRUE(document.CreateElement(nullptr, L"settings", nullptr, &root));
    IUnknown* child = nullptr;
    ASSERT_TRUE(document.CreateElement(root, L"main", L"x<y", &child));
    WideString xml;
    EXPECT_TRUE(document.NodeXml(child, xml));
    EXPECT_STREQ(L"<main>x&lt;y</main>", xml.Text());
    EXPECT_TRUE(document.DocumentXml(xml));
    EXPECT_EQ(0, xml.Find(L"<?app v=1?>")) << xml.Text();
    EXPECT_GT(xml.Find(L"<main>x&lt;y</main>"), xml.Find(L"<settings>")) << xml.Text();
    EXPECT_TRUE(document.RemoveNode(nullptr, root));
    WideString text;
    EXPECT_FALSE(document.ReadPath(L"settings", text));
    EXPECT_FALSE(document.RemoveNode(nullptr, nullptr));
    child->Release();
    root->Release();
}

TEST(XmlDocument, LegacyPrologAndNewRoot)
{
    XmlDocument document;
    ASSERT_TRUE(document.OpenBackend(XmlDocument::LegacyBackend, 0));
    EXPECT_TRUE(document.AddProcessingInstruction(L"xml", L"version=\"1.0\""));
    IUnknown* root = nullptr;
    ASSERT_TRUE(document.CreateElement(nullptr, L"settings", nullptr, &root));
    WideString text;
    EXPECT_TRUE(document.ReadPath(L"settings", text));
    EXPECT_STREQ(L"", text.Text());
    // A new root replaces the whole document.
    IUnknown* other = nullptr;
    ASSERT_TRUE(document.CreateElement(nullptr, L"other", nullptr, &other));
    EXPECT_FALSE(document.ReadPath(L"settings", text));
    EXPECT_TRUE(document.ReadPath(L"other", text));
    other->Release();
    EXPECT_FALSE(document.NodeXml(root, text));
    root->Release();
    // Removing "nothing" empties the document.
    EXPECT_TRUE(document.RemoveNode(nullptr, nullptr));
    EXPECT_FALSE(document.ReadPath(L"settings", text));
}

TEST(XmlDocument, EncodingDeclarationRemoval)
{
    struct Row {
        const wchar_t* in;
        const wchar_t* out; // nullptr: nothing removed
    };
    const Row rows[] = {
        {L"<?xml version=\"1.0\" encoding=\"x-bogus\"?><a/>", L"<?xml version=\"1.0\" ?><a/>"},
        {L"<?xml version='1.0' ENCODING='x'?><a/>", L"<?xml version='1.0' ?><a/>"},
        {L"\xFEFF<?xml encoding=\"a\" encoding='b'?><a/>", L"\xFEFF<?xml  encoding='b'?><a/>"},
        {L"<?xml encoding=\"\"?>\"<a/>", L"<?xml ?>\"<a/>"},
        {L"<?xml encoding=\"ab\"c\"?><a/>", L"<?xml c\"?><a/>"},
        {L"<?xml version=\"1.0\"?><a encoding=\"x\"/>", nullptr},
        {L"<a encoding=\"x\"/>", nullptr},
        {L"<?xml encoding=\"unterminated?><a/>", nullptr},
        {L"", nullptr},
    };
    for (const Row& row : rows) {
        WideString result;
        int removed = XmlDomBackend::RemoveEncodingDeclaration(row.in, result);
        EXPECT_EQ(row.out != nullptr, removed != 0) << row.in;
        if (row.out) {
            EXPECT_STREQ(row.out, result.Text()) << row.in;
        }
    }
}

TEST(XmlDocument, LoadsTextsWhateverTheyDeclare)
{
    XmlDocument document;
    ASSERT_TRUE(document.Open(XmlNoValidation | XmlNoExternals));
    struct Row {
        const wchar_t* text;
        const wchar_t* value;
    };
    const Row rows[] = {
        {L"<a v=\"plain\"/>", L"plain"},
        {L"<?xml version=\"1.0\"?><a v=\"declared\"/>", L"declared"},
        {L"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a v=\"\u00E9\u20AC\u4E2D\"/>", L"\u00E9\u20AC\u4E2D"},
        {L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a v=\"\u00E9\u20AC\"/>", L"\u00E9\u20AC"},
        {L"<a v=\"\u00E9\u20AC\u4E2D\"/>", L"\u00E9\u20AC\u4E2D"},
        {L"<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?><a v=\"rescued\"/>", L"rescued"},
        {L"<?xml version='1.0' encoding='x-no-such-encoding'?><a v='single'/>", L"single"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(document.LoadText(row.text)) << row.text;
        EXPECT_EQ(row.value, ReadOr(document, L"a\\v")) << row.text;
    }
    EXPECT_FALSE(document.LoadText(L""));
    EXPECT_FALSE(document.LoadText(L"<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?><a>"));
}

TEST(XmlDocument, FilesRoundTripAndAFailedSaveKeepsTheOldFile)
{
    TempDirectory directory(L"xmlfiles");
    WideString path = directory.File(L"doc.xml");
    XmlDocument document;
    ASSERT_TRUE(document.Open(XmlNoValidation | XmlNoExternals));
    ASSERT_TRUE(document.LoadText(L"<doc v=\"\u00E9\u4E2D\"><c>1</c></doc>"));
    ASSERT_TRUE(document.SaveFile(path));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(directory.File(L"doc.xml.tmp")));

    XmlDocument again;
    ASSERT_TRUE(again.Open(XmlNoValidation | XmlNoExternals));
    ASSERT_TRUE(again.LoadFile(path));
    EXPECT_EQ(L"\u00E9\u4E2D", ReadOr(again, L"doc\\v"));
    EXPECT_EQ(L"1", ReadOr(again, L"doc\\c"));
    EXPECT_FALSE(again.LoadFile(directory.File(L"missing.xml")));
    EXPECT_FALSE(again.LoadFile(L""));

    std::string before = directory.Read(L"doc.xml");
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(again.LoadText(L"<doc v=\"changed\"/>"));
    ASSERT_TRUE(SetFileAttributesW(path, FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(again.SaveFile(path));
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(before, directory.Read(L"doc.xml"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(directory.File(L"doc.xml.tmp")));

    EXPECT_FALSE(again.SaveFile(directory.File(L"no\\such\\dir\\doc.xml")));
    EXPECT_FALSE(again.SaveFile(directory.Path())); // a directory is not replaced
    EXPECT_TRUE(again.SaveFile(path));
    EXPECT_NE(std::string::npos, directory.Read(L"doc.xml").find("changed"));
}

TEST(XmlDocument, LegacyParserLoadsAndReadsFiles)
{
    TempDirectory directory(L"legacyfiles");
    directory.Write(L"in.xml", "<?xml version=\"1.0\"?><update><version>2.1</version><url>http://x/</url></update>");
    XmlDocument document;
    ASSERT_TRUE(document.OpenBackend(XmlDocument::LegacyBackend, 0));
    ASSERT_TRUE(document.LoadFile(directory.File(L"in.xml")));
    EXPECT_EQ(L"2.1", ReadOr(document, L"update\\version"));
    EXPECT_EQ(L"http://x/", ReadOr(document, L"update\\url"));
    EXPECT_FALSE(document.LoadFile(directory.File(L"missing.xml")));
}

// COM is initialised as a single-threaded apartment by Open and undone by
// Close, but only when this document's own initialisation succeeded.
TEST(XmlDocument, ComInitialisationIsUndoneByClose)
{
    std::thread fresh([] {
        XmlDocument document;
        ASSERT_TRUE(document.Open(XmlNoValidation | XmlNoExternals));
        ASSERT_TRUE(document.Open(XmlNoValidation | XmlNoExternals)); // no second initialisation
        HRESULT inside = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(S_FALSE, inside);
        if (SUCCEEDED(inside))
            CoUninitialize();
        document.Close();
        HRESULT after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(S_OK, after); // nothing left: any apartment may be chosen now
        if (SUCCEEDED(after))
            CoUninitialize();
    });
    fresh.join();

    std::thread multi([] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        {
            EXPECT_EQ(RPC_E_CHANGED_MODE, InitializeCom(COINIT_APARTMENTTHREADED));
            XmlDocument document;
            EXPECT_TRUE(document.Open(XmlNoValidation | XmlNoExternals));
            WideString text;
            EXPECT_TRUE(document.LoadText(L"<a b=\"c\"/>"));
            EXPECT_TRUE(document.ReadPath(L"a\\b", text));
        }
        // The thread's own multithreaded apartment survived the document.
        HRESULT still = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(S_FALSE, still);
        if (SUCCEEDED(still))
            CoUninitialize();
        CoUninitialize();
    });
    multi.join();
}

INSTANTIATE_TEST_SUITE_P(Parsers, BothParsers,
                         ::testing::Values(XmlDocument::DomBackend, XmlDocument::LegacyBackend), ParserName);
