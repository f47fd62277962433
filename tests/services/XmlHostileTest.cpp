#include <gtest/gtest.h>

#include "common/TempDirectory.h"
#include "services/LibraryHolder.h"
#include "services/XmlDocument.h"

#include <winsock2.h>

#include <random>
#include <string>

// Documents that a server or a damaged file could hand us. Each must end in
// a failed load or a defined document; none may crash, hang or fetch anything.

namespace {

class HostileXml : public ::testing::TestWithParam<XmlDocument::Backend> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(document.OpenBackend(GetParam(), XmlNoValidation | XmlNoExternals));
    }

    // After any load, reading must still work on whatever was kept.
    void ExpectUsable()
    {
        WideString text;
        document.ReadPath(L"a\\b", text);
        document.ReadPath(L"r", text);
        document.DocumentXml(text);
    }

    XmlDocument document;
};

std::string ParserName(const ::testing::TestParamInfo<XmlDocument::Backend>& info)
{
    return info.param == XmlDocument::DomBackend ? "Dom" : "Legacy";
}

std::wstring Repeat(const wchar_t* piece, int count)
{
    std::wstring text;
    text.reserve(wcslen(piece) * (size_t)count);
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

std::wstring Widen(const std::string& bytes)
{
    std::wstring text;
    for (unsigned char c : bytes)
        text += (wchar_t)c;
    return text;
}

std::wstring FileUrl(const WideString& path)
{
    std::wstring url = L"file:///";
    for (const wchar_t* p = path.Text(); *p; ++p)
        url += *p == L'\\' ? L'/' : *p;
    return url;
}

// A listening socket on 127.0.0.1 that tells whether anybody connected.
// Winsock is bound at run time so that the test links nothing extra.
class LoopbackListener {
public:
    LoopbackListener()
    {
        if (!winsock_.Load(L"ws2_32.dll"))
            return;
        startup_ = (StartupProc)winsock_.Lookup("WSAStartup");
        cleanup_ = (CleanupProc)winsock_.Lookup("WSACleanup");
        socket_ = (SocketProc)winsock_.Lookup("socket");
        bind_ = (BindProc)winsock_.Lookup("bind");
        listen_ = (ListenProc)winsock_.Lookup("listen");
        name_ = (NameProc)winsock_.Lookup("getsockname");
        select_ = (SelectProc)winsock_.Lookup("select");
        close_ = (CloseProc)winsock_.Lookup("closesocket");
        WSADATA data;
        if (!startup_ || startup_(MAKEWORD(2, 2), &data) != 0)
            return;
        started_ = true;
        listener_ = socket_(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = 0x0100007F; // 127.0.0.1 in network order
        address.sin_port = 0;
        int size = sizeof(address);
        if (listener_ == INVALID_SOCKET || bind_(listener_, (sockaddr*)&address, sizeof(address)) != 0 ||
            listen_(listener_, 8) != 0 || name_(listener_, (sockaddr*)&address, &size) != 0)
            return;
        port_ = ((address.sin_port & 0xFF) << 8) | (address.sin_port >> 8);
    }
    ~LoopbackListener()
    {
        if (listener_ != INVALID_SOCKET)
            close_(listener_);
        if (started_)
            cleanup_();
    }

    int Port() const { return port_; }
    // True when a connection waits to be accepted.
    bool WasContacted() const
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        timeval wait = {0, 300000};
        return select_(0, &readable, nullptr, nullptr, &wait) > 0;
    }

private:
    typedef int(WINAPI* StartupProc)(WORD, WSADATA*);
    typedef int(WINAPI* CleanupProc)();
    typedef SOCKET(WINAPI* SocketProc)(int, int, int);
    typedef int(WINAPI* BindProc)(SOCKET, const sockaddr*, int);
    typedef int(WINAPI* ListenProc)(SOCKET, int);
    typedef int(WINAPI* NameProc)(SOCKET, sockaddr*, int*);
    typedef int(WINAPI* SelectProc)(int, fd_set*, fd_set*, fd_set*, const timeval*);
    typedef int(WINAPI* CloseProc)(SOCKET);

    LibraryHolder winsock_;
    StartupProc startup_ = nullptr;
    CleanupProc cleanup_ = nullptr;
    SocketProc socket_ = nullptr;
    BindProc bind_ = nullptr;
    ListenProc listen_ = nullptr;
    NameProc name_ = nullptr;
    SelectProc select_ = nullptr;
    CloseProc close_ = nullptr;
    bool started_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
};

} // namespace

TEST_P(HostileXml, MalformedTextsFailToLoad)
{
    const wchar_t* texts[] = {
        L"<a>",
        L"<a></b>",
        L"<a b=1/>",
        L"<a b=\"1\" b=\"2\"/>",
        L"<<a/>>",
        L"<a>&undefined;</a>",
        L"<a/><b/>",
        L"just text",
        L"<?xml version=\"1.0\"?>",
        L"</a>",
        L"<a><![CDATA[never closed</a>",
        L"<a><!-- never closed</a>",
        L"<a \u0001=\"x\"/>",
        (L"<\xD800" L"a/>"), // split so that the escape ends before "a"
    };
    for (const wchar_t* text : texts) {
        EXPECT_FALSE(document.LoadText(text)) << text;
        ExpectUsable();
    }
}

TEST_P(HostileXml, EveryTruncationOfAValidDocumentFails)
{
    const std::wstring whole = L"<?xml version=\"1.0\"?><a x=\"1\"><b>text</b><c/></a>";
    ASSERT_TRUE(document.LoadText(whole.c_str()));
    for (size_t length = 1; length < whole.size(); ++length) {
        std::wstring cut = whole.substr(0, length);
        EXPECT_FALSE(document.LoadText(cut.c_str())) << cut;
        WideString text;
        EXPECT_FALSE(document.ReadPath(L"a\\b", text)) << cut;
    }
}

TEST_P(HostileXml, RandomTextsNeverCrash)
{
    std::mt19937 random(20240531);
    const wchar_t alphabet[] = L"<>/=\"'?!&;[]-ab \u00E9\u4E2D\xD800\xDC00\x0001";
    for (int round = 0; round < 300; ++round) {
        std::wstring text;
        int length = 1 + (int)(random() % 60);
        for (int i = 0; i < length; ++i)
            text += round % 2 ? alphabet[random() % (sizeof(alphabet) / sizeof(wchar_t) - 1)]
                              : (wchar_t)(1 + random() % 0xFFFE);
        (void)document.LoadText(text.c_str()); // loaded or refused, it stays usable
        ExpectUsable();
    }
    // A damaged valid document: single code units flipped.
    const std::wstring valid = L"<a k=\"v\"><b>t</b></a>";
    for (int round = 0; round < 200; ++round) {
        std::wstring text = valid;
        text[random() % text.size()] = (wchar_t)(1 + random() % 0x7F);
        if (document.LoadText(text.c_str()))
            ExpectUsable();
    }
}

TEST_P(HostileXml, DeepNestingIsRefusedOrReadable)
{
    const int depth = 100000;
    std::wstring text = Repeat(L"<a>", depth) + L"x" + Repeat(L"</a>", depth);
    if (document.LoadText(text.c_str())) {
        WideString value;
        EXPECT_TRUE(document.ReadPath(L"a\\a\\a", value));
    }
    ExpectUsable();
    // The parser is still fine for the next document.
    ASSERT_TRUE(document.LoadText(L"<r><b>ok</b></r>"));
    WideString value;
    EXPECT_TRUE(document.ReadPath(L"r\\b", value));
    EXPECT_STREQ(L"ok", value.Text());
}

TEST_P(HostileXml, HugeDocumentsLoadOrFailCleanly)
{
    // About 10 million characters (20 MB of UTF-16) in 600,000 elements.
    std::wstring many = L"<r>" + Repeat(L"<i>0123456789</i>", 600000) + L"<last>end</last></r>";
    if (document.LoadText(many.c_str())) {
        WideString value;
        EXPECT_TRUE(document.ReadPath(L"r\\last", value));
        EXPECT_STREQ(L"end", value.Text());
        EXPECT_FALSE(document.ReadPath(L"r\\missing", value));
    }
    many.clear();
    many.shrink_to_fit();
    // One text node of 12 million characters.
    std::wstring big = L"<r><b>" + std::wstring(12000000, L'x') + L"</b></r>";
    if (document.LoadText(big.c_str())) {
        WideString value;
        EXPECT_TRUE(document.ReadPath(L"r\\b", value));
        EXPECT_EQ(12000000, value.Length());
    }
    ExpectUsable();
}

TEST_P(HostileXml, EntityExpansionIsBounded)
{
    // The classic "billion laughs": ten levels of ten references each.
    std::wstring text = L"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int level = 1; level <= 10; ++level) {
        text += L"<!ENTITY l" + std::to_wstring(level) + L" \"";
        for (int i = 0; i < 10; ++i)
            text += L"&l" + std::to_wstring(level - 1) + L";";
        text += L"\">";
    }
    text += L"]><r>&l10;</r>";
    if (document.LoadText(text.c_str())) {
        WideString value;
        document.ReadPath(L"r", value);
        EXPECT_LT(value.Length(), 100000000);
    }
    ExpectUsable();
}

TEST_P(HostileXml, ExternalEntitiesAreNeverResolved)
{
    TempDirectory directory(L"xmlentities");
    ASSERT_TRUE(directory.Write(L"secret.txt", "QUILL-SECRET-7731"));
    ASSERT_TRUE(directory.Write(L"evil.dtd", "<!ENTITY x \"QUILL-SECRET-DTD\">"));
    std::wstring secret = FileUrl(directory.File(L"secret.txt"));
    std::wstring dtd = FileUrl(directory.File(L"evil.dtd"));
    const std::wstring texts[] = {
        L"<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + L"\">]><r>&x;</r>",
        L"<!DOCTYPE r [<!ENTITY x SYSTEM \"" + std::wstring(directory.File(L"secret.txt").Text()) +
            L"\">]><r>&x;</r>",
        L"<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtd + L"\"> %p;]><r>&x;</r>",
        L"<!DOCTYPE r SYSTEM \"" + dtd + L"\"><r>&x;</r>",
        L"<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + L"\">]><r a=\"1\">&x;</r>",
    };
    for (const std::wstring& text : texts) {
        if (document.LoadText(text.c_str())) {
            WideString value;
            document.ReadPath(L"r", value);
            EXPECT_LT(value.Find(L"QUILL-SECRET"), 0) << text;
            document.DocumentXml(value);
            EXPECT_LT(value.Find(L"QUILL-SECRET"), 0) << text;
        }
        // The same document read from a file.
        std::string bytes;
        for (wchar_t c : text)
            bytes += (char)c;
        ASSERT_TRUE(directory.Write(L"doc.xml", bytes));
        if (document.LoadFile(directory.File(L"doc.xml"))) {
            WideString value;
            document.ReadPath(L"r", value);
            EXPECT_LT(value.Find(L"QUILL-SECRET"), 0) << text;
        }
    }
}

TEST_P(HostileXml, NothingIsFetchedFromTheNetwork)
{
    LoopbackListener listener;
    ASSERT_NE(0, listener.Port());
    std::wstring base = L"http://127.0.0.1:" + std::to_wstring(listener.Port());
    const std::wstring texts[] = {
        L"<!DOCTYPE r SYSTEM \"" + base + L"/evil.dtd\"><r>&x;</r>",
        L"<!DOCTYPE r [<!ENTITY x SYSTEM \"" + base + L"/x\">]><r>&x;</r>",
        L"<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + base + L"/p\"> %p;]><r/>",
        L"<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"" + base + L"/inc\"/></r>",
        L"<?xml-stylesheet href=\"" + base + L"/style.xsl\"?><r/>",
    };
    TempDirectory directory(L"xmlnetwork");
    for (const std::wstring& text : texts) {
        // Loaded or refused: what counts is that nothing is fetched.
        (void)document.LoadText(text.c_str());
        ExpectUsable();
        std::string bytes;
        for (wchar_t c : text)
            bytes += (char)c;
        ASSERT_TRUE(directory.Write(L"doc.xml", bytes));
        (void)document.LoadFile(directory.File(L"doc.xml"));
        ExpectUsable();
        EXPECT_FALSE(listener.WasContacted()) << text;
    }
}

TEST_P(HostileXml, StrangeEncodingsGiveADefinedDocument)
{
    struct Row {
        std::wstring text;
        const wchar_t* expected; // nullptr: a failed load is as good as any value
    };
    const Row rows[] = {
        {L"<?xml version=\"1.0\" encoding=\"UTF-32\"?><a b=\"v\"/>", nullptr},
        {L"<?xml version=\"1.0\" encoding=\"UCS-4\"?><a b=\"v\"/>", nullptr},
        {L"<?xml version=\"1.0\" encoding=\"IBM037\"?><a b=\"v\"/>", nullptr},
        {L"<?xml version=\"1.0\" encoding=\"UTF-7\"?><a b=\"v\"/>", nullptr},
        {L"<?xml version=\"1.0\" encoding=\"UTF-16BE\"?><a b=\"v\"/>", nullptr},
        {L"<?xml version=\"1.0\" encoding=\"\"?><a b=\"v\"/>", nullptr},
        {L"<?xml version=\"1.0\" encoding=\"" + std::wstring(5000, L'x') + L"\"?><a b=\"v\"/>", nullptr},
        {L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a b=\"\u4E2D\"/>", nullptr},
        // A UTF-8 body widened byte by byte, as the network delivers it.
        {Widen("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a b=\"\xC3\xA9\"/>"), nullptr},
        {Widen("\xEF\xBB\xBF<a b=\"v\"/>"), nullptr},
        {L"\xFEFF<a b=\"v\"/>", L"v"},
        {L"\xFFFE<a b=\"v\"/>", nullptr},
    };
    for (const Row& row : rows) {
        bool loaded = document.LoadText(row.text.c_str()) != 0;
        WideString value;
        bool read = loaded && document.ReadPath(L"a", value);
        if (row.expected && GetParam() == XmlDocument::DomBackend) {
            EXPECT_TRUE(loaded) << row.text;
            EXPECT_TRUE(document.ReadPath(L"a\\b", value));
            EXPECT_STREQ(row.expected, value.Text());
        }
        if (loaded) {
            EXPECT_TRUE(read) << row.text;
        }
        ExpectUsable();
    }
}

INSTANTIATE_TEST_SUITE_P(Parsers, HostileXml,
                         ::testing::Values(XmlDocument::DomBackend, XmlDocument::LegacyBackend), ParserName);
