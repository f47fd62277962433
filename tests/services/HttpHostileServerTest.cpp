#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "common/ScratchFile.h"

// Servers that misbehave. Each case must end, within a bounded time, with
// a defined result and no crash.

namespace {

const wchar_t Agent[] = L"AutoUpdate";

int Download(HttpClient& client, const std::wstring& url, const ScratchFile& file, DWORD* status,
             DWORD maximum = 0, DWORD timeout = (DWORD)-1, CallbackRecorder* recorder = nullptr)
{
    return client.Download(url.c_str(), Agent, file.Path(), maximum,
                           recorder ? &CallbackRecorder::Callback : nullptr, recorder,
                           L"Accept: */*\r\n\r\n", (DWORD)-1, status, timeout, 0, nullptr);
}

LoopbackReply EndlessBody()
{
    return LoopbackReply().Send(HttpHead(200, "Connection: close\r\n")).Endless(PatternBytes(4096));
}

} // namespace

TEST(HttpHostileServer, EndlessBodyEndsAtTheMaximum)
{
    LoopbackServer server;
    server.Script(EndlessBody());
    HttpClient client;
    WideString text;
    ASSERT_EQ(1, client.Get(server.Url(L"/endless").c_str(), Agent, text, 100000, nullptr, nullptr,
                            nullptr));
    EXPECT_EQ(100000, text.Length());

    ScratchFile file;
    DWORD status = 0;
    ASSERT_EQ(1, Download(client, server.Url(L"/endless"), file, &status, 50000));
    EXPECT_EQ(50000u, file.Read().size());

    // Code 5 answering 0 stops reading, and that is still a success.
    CallbackRecorder recorder;
    recorder.answers[HttpRequestReceived] = 0;
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.port = server.Port();
    request.object = L"/endless";
    request.response = &text;
    request.callback = &CallbackRecorder::Callback;
    request.data = &recorder;
    ASSERT_EQ(1, client.Request(request));
    EXPECT_GT(text.Length(), 0);
    EXPECT_LE(text.Length(), 65537);
}

// Request carries the caller's time-out down to the connection, where Wine
// honours it. Get sets none and Download's InternetOpenUrlW only has the
// root handle, whose receive time-out Wine ignores: there the library waits
// until the server gives up (on Windows its default time-outs end it), so
// these silent servers hang up after 1.5 s. A body that stops short of its
// length then fails the download.
TEST(HttpHostileServer, ServerThatNeverAnswers)
{
    LoopbackServer server;
    HttpClient client;

    server.Script(LoopbackReply().Hang(5000));
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.port = server.Port();
    request.object = L"/silent";
    request.timeout = 500;
    DWORD status = 0;
    request.status = &status;
    DWORD start = GetTickCount();
    EXPECT_EQ(0, client.Request(request));
    EXPECT_LT(Milliseconds(start), 3000u);
    EXPECT_GT(status, 12000u); // the WinINet error number of the failed send

    server.Script(LoopbackReply().Hang(1500));
    WideString text;
    start = GetTickCount();
    EXPECT_EQ(0, client.Get(server.Url(L"/silent").c_str(), Agent, text, 0, nullptr, nullptr,
                            nullptr));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_LT(Milliseconds(start), 10000u);

    // After the head, the rest of the body never comes.
    ScratchFile file;
    server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 1000\r\n") + "part").Hang(1500));
    start = GetTickCount();
    EXPECT_EQ(0, Download(client, server.Url(L"/stalls"), file, &status, 0, 500));
    EXPECT_FALSE(file.Exists());
    EXPECT_LT(Milliseconds(start), 10000u);
}

TEST(HttpHostileServer, GarbageStatusLines)
{
    LoopbackServer server;
    HttpClient client;
    const char* heads[] = {
        "HTTP/1.1 abc\r\nContent-Length: 5\r\n\r\nhello",
        "HTTP/1.1 99999999999999999999 Big\r\nContent-Length: 5\r\n\r\nhello",
        "HTTP/1.1 -200 Negative\r\nContent-Length: 5\r\n\r\nhello",
    };
    for (const char* head : heads) {
        SCOPED_TRACE(head);
        server.Script(LoopbackReply().Send(head));
        WideString text;
        EXPECT_EQ(0, client.Get(server.Url(L"/g").c_str(), Agent, text, 0, nullptr, nullptr,
                                nullptr));
        EXPECT_TRUE(text.IsEmpty());
        ScratchFile file;
        DWORD status = 0;
        EXPECT_EQ(0, Download(client, server.Url(L"/g"), file, &status));
        EXPECT_FALSE(file.Exists());
    }
    // No status line at all: WinINet takes it for a headerless HTTP/0.9
    // answer. Whatever it makes of it, the client ends cleanly.
    std::string junk = "\x16\x03\x01 not http at all\r\n\r\n" + PatternBytes(300);
    server.Script(LoopbackReply().Send(junk));
    WideString text;
    int result = client.Get(server.Url(L"/j").c_str(), Agent, text, 0, nullptr, nullptr, nullptr);
    EXPECT_TRUE(result == 0 || text.Length() <= (int)junk.size());
}

TEST(HttpHostileServer, HugeAndOddHeaders)
{
    LoopbackServer server;
    HttpClient client;
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "X-Header-" + std::to_string(i) + ": value\r\n";
    std::string heads[] = {
        "X-Big: " + std::string(100000, 'a') + "\r\n",
        many,
        "Content-Disposition: attachment; filename=\"" + std::string(2000, 'd') + "\"\r\n",
    };
    for (const std::string& head : heads) {
        SCOPED_TRACE(head.substr(0, 40));
        server.Script(HttpAnswer(200, "hello", head));
        WideString text;
        ASSERT_EQ(1, client.Get(server.Url(L"/h").c_str(), Agent, text, 0, nullptr, nullptr,
                                nullptr));
        EXPECT_EQ(L"hello", TextOf(text));
        ScratchFile file;
        DWORD status = 0;
        CallbackRecorder recorder;
        std::wstring disposition = L"unset";
        recorder.inspect = [&](int code, void* value) {
            if (code == HttpDownloadDisposition)
                disposition = ((HttpFileHeader*)value)->value;
        };
        ASSERT_EQ(1, Download(client, server.Url(L"/h"), file, &status, 0, (DWORD)-1, &recorder));
        EXPECT_EQ("hello", file.Read());
        EXPECT_EQ(L"", disposition); // longer than its 1024-byte buffer: offered empty
    }
}

TEST(HttpHostileServer, LengthsThatLie)
{
    LoopbackServer server;
    HttpClient client;
    // A negative or unreadable length is no length: the body runs to the end.
    const char* lengths[] = {"-5", "5abc", "99999999999999999999999"};
    for (const char* length : lengths) {
        SCOPED_TRACE(length);
        server.Script(LoopbackReply().Send(
            HttpHead(200, std::string("Content-Length: ") + length + "\r\nConnection: close\r\n") +
            "hello"));
        ScratchFile file;
        DWORD status = 0;
        CallbackRecorder recorder;
        long long announced = -2;
        recorder.inspect = [&](int code, void* value) {
            if (code == HttpDownloadLength)
                announced = *(const long long*)value;
        };
        int result = Download(client, server.Url(L"/l"), file, &status, 0, (DWORD)-1, &recorder);
        if (result) {
            EXPECT_EQ("hello", file.Read());
        } else {
            EXPECT_FALSE(file.Exists());
        }
        EXPECT_EQ(-1, announced);
    }
    // A length far beyond the body fails the download instead of leaving a
    // file of that size.
    server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 4000000000\r\n") + "tiny"));
    ScratchFile file;
    DWORD status = 0;
    EXPECT_EQ(0, Download(client, server.Url(L"/l"), file, &status));
    EXPECT_FALSE(file.Exists());
}
