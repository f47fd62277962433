#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "HttpTestSupport.h"
#include "common/DialogAnswerer.h"
#include "common/ScratchFile.h"
#include "common/TempDirectory.h"

namespace {

const wchar_t Agent[] = L"AutoUpdate";
const wchar_t AcceptAll[] = L"Accept: */*\r\n\r\n";

int Download(HttpClient& client, const std::wstring& url, const ScratchFile& file,
             DWORD* status, CallbackRecorder* recorder = nullptr, DWORD maximum = 0,
             const wchar_t* headers = AcceptAll, DWORD limit = 0)
{
    return client.Download(url.c_str(), Agent, file.Path(), maximum,
                           recorder ? &CallbackRecorder::Callback : nullptr, recorder, headers,
                           (DWORD)-1, status, (DWORD)-1, limit, nullptr);
}

// Names of the files in `directory`.
std::set<std::wstring> FilesIn(const wchar_t* directory)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    std::wstring pattern = std::wstring(directory) + L"\\*";
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool WinInetLoaded()
{
    return GetModuleHandleW(L"wininet.dll") != nullptr;
}

} // namespace

// --- Get ----------------------------------------------------------------

TEST(HttpClientGet, WidensEveryByteOfABodyLargerThanOneChunk)
{
    LoopbackServer server;
    ASSERT_TRUE(server.IsRunning());
    std::string body = PatternBytes(200000) + "\xE9";
    server.Script(HttpAnswer(200, body, "Content-Type: text/xml; charset=utf-8\r\n"));
    HttpClient client;
    WideString text;
    text = L"left over";
    ASSERT_EQ(1, client.Get(server.Url(L"/common/update.php?p=quillmere").c_str(), Agent, text, 0,
                            nullptr, nullptr, nullptr));
    ASSERT_EQ((int)body.size(), text.Length());
    EXPECT_TRUE(TextOf(text) == Widened(body)); // 0xE9 arrives as U+00E9, 0x00 as U+0000
    EXPECT_EQ(L'\x00E9', text.At(text.Length() - 1));

    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(0u, requests[0].find("GET /common/update.php?p=quillmere HTTP/1.1\r\n"));
    EXPECT_EQ("AutoUpdate", RequestHeader(requests[0], "User-Agent"));
    EXPECT_NE(std::string::npos, RequestHeader(requests[0], "Accept").find("*/*"));
}

TEST(HttpClientGet, StopsAtTheMaximumAndTakesUpperCaseSchemes)
{
    LoopbackServer server;
    server.Script(HttpAnswer(200, PatternBytes(100000)));
    HttpClient client;
    WideString text;
    ASSERT_EQ(1, client.Get(server.Url(L"/big").c_str(), Agent, text, 1000, nullptr, nullptr,
                            nullptr));
    EXPECT_TRUE(TextOf(text) == Widened(PatternBytes(1000)));

    server.Script(HttpAnswer(200, "upper"));
    std::wstring url = server.Url(L"/x");
    url.replace(0, 4, L"HTTP");
    ASSERT_EQ(1, client.Get(url.c_str(), Agent, text, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(L"upper", TextOf(text));
}

TEST(HttpClientGet, StatusDecidesTheResult)
{
    struct Case {
        int status;
        std::string body;
        int result;
    } cases[] = {
        {404, "not here", 0},
        {500, "broken", 0},
        {302, "moved", 0},
        {206, "part", 1},
        {200, "", 1}, // an empty body is still a successful read
    };
    LoopbackServer server;
    HttpClient client;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        // A redirect without a Location stays a plain 302 answer.
        server.Script(HttpAnswer(c.status, c.body));
        WideString text;
        text = L"stale";
        EXPECT_EQ(c.result, client.Get(server.Url(L"/s").c_str(), Agent, text, 0, nullptr, nullptr,
                                       nullptr));
        EXPECT_EQ(c.result ? Wide(c.body) : std::wstring(), TextOf(text));
    }
}

TEST(HttpClientGet, CookiesPassOnlyWhenCodeNineAllowsThem)
{
    LoopbackServer server;
    std::string name = "quill" + std::to_string(GetTickCount()) + "_" +
                       std::to_string(GetCurrentProcessId());
    server.Script(HttpAnswer(200, "set", "Set-Cookie: " + name + "=1; path=/\r\n"));
    server.Script(HttpAnswer(200, "again"));
    HttpClient client;
    WideString text;
    CallbackRecorder allow;
    std::wstring url = server.Url(L"/cookie");
    ASSERT_EQ(1, client.Get(url.c_str(), Agent, text, 0, nullptr, &CallbackRecorder::Callback,
                            &allow));
    ASSERT_EQ(1, client.Get(url.c_str(), Agent, text, 0, nullptr, &CallbackRecorder::Callback,
                            &allow));
    EXPECT_EQ(std::vector<int>({HttpGetAllowCookies, HttpGetAllowCookies}), allow.codes);
    ASSERT_EQ(1, client.Get(url.c_str(), Agent, text, 0, nullptr, nullptr, nullptr));
    CallbackRecorder refuse;
    refuse.answers[HttpGetAllowCookies] = 0;
    ASSERT_EQ(1, client.Get(url.c_str(), Agent, text, 0, nullptr, &CallbackRecorder::Callback,
                            &refuse));

    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(4u, requests.size());
    EXPECT_NE(std::string::npos, RequestHeader(requests[1], "Cookie").find(name));
    EXPECT_EQ(std::string::npos, RequestHeader(requests[2], "Cookie").find(name));
    EXPECT_EQ(std::string::npos, RequestHeader(requests[3], "Cookie").find(name));
}

namespace {

// A visible top-level window that holds the foreground, as the update
// check's caller would.
class ForegroundWindow {
public:
    ForegroundWindow()
    {
        window_ = CreateWindowExW(0, L"STATIC", L"Quillmere", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                  0, 300, 200, nullptr, nullptr, nullptr, nullptr);
        SetForegroundWindow(window_);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    ~ForegroundWindow() { DestroyWindow(window_); }
    HWND Handle() const { return window_; }

private:
    HWND window_;
};

} // namespace

// The loopback server stands in for a proxy that wants credentials: Wine's
// dialog needs a proxy to name, and a real one is how 407 arises. (Each
// dialog costs two seconds under Xvfb, where Wine waits in vain for a window
// manager to confirm the hidden window.) The dialog belongs to the window
// the caller names, never to whatever window is in front.
TEST(HttpClientGet, ProxyCredentialsDialogShowsAtMostTwiceAndOnlyForItsOwner)
{
    ForegroundWindow front;
    ASSERT_EQ(front.Handle(), GetForegroundWindow());
    LoopbackServer proxy;
    proxy.Script(HttpAnswer(407, "who are you", "Proxy-Authenticate: Basic realm=\"Tollbrook\"\r\n"));
    std::wstring proxyName = L"127.0.0.1:" + std::to_wstring(proxy.Port());
    HttpClient client;
    WideString text;
    {
        DialogAnswerer clicker(0, DialogAnswerer::Press(IDOK));
        EXPECT_EQ(0, client.Get(L"http://updates.quillmere.invalid/common/update.php", Agent,
                                text, 0, proxyName.c_str(), nullptr, nullptr));
        EXPECT_EQ(0, clicker.Count()) << "no owner, no dialog";
    }
    ForegroundWindow owner;
    client.SetDialogOwner(owner.Handle());
    std::vector<HWND> owners;
    {
        // Every OK asks for another attempt.
        DialogAnswerer clicker(0, [&](HWND box, int) {
            owners.push_back(GetWindow(box, GW_OWNER));
            DialogAnswerer::Click(box, IDOK);
        });
        EXPECT_EQ(0, client.Get(L"http://updates.quillmere.invalid/common/update.php", Agent,
                                text, 0, proxyName.c_str(), nullptr, nullptr));
        EXPECT_EQ(2, clicker.Count());
    }
    for (HWND seen : owners)
        EXPECT_EQ(owner.Handle(), seen);
    EXPECT_TRUE(text.IsEmpty());
    ASSERT_GE(proxy.RequestCount(), 2u);
    EXPECT_EQ(0u, proxy.Requests()[0].find("GET http://updates.quillmere.invalid"));
    {
        DialogAnswerer clicker(0, DialogAnswerer::Press(IDCANCEL));
        EXPECT_EQ(0, client.Get(L"http://updates.quillmere.invalid/common/update.php", Agent,
                                text, 0, proxyName.c_str(), nullptr, nullptr));
        EXPECT_EQ(1, clicker.Count());
    }
}

// A client cancelled from another thread (a window that closes) closes
// its handles: the operation under way ends, and every later one fails at
// once without asking the server.
TEST(HttpClient, CancelEndsTheOperationAndEveryLaterOne)
{
    LoopbackServer server;
    server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 10\r\n") + "abc").Pause(3000).Send("defghij"));
    HttpClient client;
    WideString text;
    std::thread canceller([&] {
        Sleep(500);
        client.Cancel();
    });
    DWORD start = GetTickCount();
    EXPECT_EQ(0, client.Get(server.Url(L"/slow").c_str(), Agent, text, 0, nullptr, nullptr, nullptr));
    canceller.join();
    // Windows returns when the handle is closed; Wine's WinINet when the
    // read it waits in is over.
    EXPECT_LT(Milliseconds(start), 10000u);
    EXPECT_TRUE(client.IsCancelled());
    EXPECT_EQ(0, client.UseCount());
    size_t requests = server.RequestCount();
    ScratchFile file;
    DWORD status = 0;
    EXPECT_EQ(0, client.Get(server.Url(L"/again").c_str(), Agent, text, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, client.Download(server.Url(L"/again").c_str(), Agent, file.Path(), 0, nullptr,
                                 nullptr, L"Accept: */*\r\n\r\n", (DWORD)-1, &status, (DWORD)-1, 0,
                                 nullptr));
    EXPECT_EQ(requests, server.RequestCount());
}

// --- Download -------------------------------------------------------------

TEST(HttpClientDownload, WritesTheFileWithAndWithoutAContentLength)
{
    LoopbackServer server;
    std::string body = PatternBytes(70000);
    server.Script(HttpAnswer(200, body,
                             "Content-Type: application/zip\r\n"
                             "Content-Disposition: attachment; filename=\"quillmere.zip\"\r\n"));
    server.Script(LoopbackReply().Send(HttpHead(200, "Transfer-Encoding: chunked\r\n") +
                                       Chunked(body, 3000)));
    server.Script(LoopbackReply().Send(HttpHead(200, "") + body)); // ends with the connection
    HttpClient client;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ScratchFile file(L".zip");
        DWORD status = 0;
        CallbackRecorder recorder;
        std::wstring disposition, type, finalUrl;
        long long announced = -2, total = -2;
        recorder.inspect = [&](int code, void* value) {
            if (code == HttpDownloadDisposition)
                disposition = ((HttpFileHeader*)value)->value;
            if (code == HttpDownloadContentType)
                type = ((HttpFileHeader*)value)->value;
            if (code == HttpDownloadLength)
                announced = *(const long long*)value;
            if (code == HttpDownloadFinalUrl)
                finalUrl = (const wchar_t*)value;
            if (code == HttpDownloadTotal)
                total = *(long long*)value;
        };
        std::wstring url = server.Url(L"/files/quillmere.zip");
        ASSERT_EQ(1, Download(client, url, file, &status, &recorder));
        EXPECT_EQ(200u, status);
        EXPECT_TRUE(file.Read() == body);
        EXPECT_EQ((long long)body.size(), total);
        EXPECT_EQ(url, finalUrl);
        if (round == 0) {
            EXPECT_EQ(L"attachment; filename=\"quillmere.zip\"", disposition);
            EXPECT_EQ(L"application/zip", type);
            EXPECT_EQ((long long)body.size(), announced);
        } else {
            EXPECT_EQ(L"", disposition);
            EXPECT_EQ(-1, announced);
        }
        // The order of the questions, with one progress pair per 1024 bytes.
        std::vector<int> expected = {10, 11, 0, 1, 2, 12, 4, 5, 6};
        for (size_t i = 0; i < (body.size() + 1023) / 1024; ++i) {
            expected.push_back(7);
            expected.push_back(8);
        }
        expected.push_back(9);
        expected.push_back(3);
        EXPECT_EQ(expected, recorder.codes);
    }
}

TEST(HttpClientDownload, ResumesOnlyWhenTheServerSendsTheRest)
{
    LoopbackServer server;
    HttpClient client;
    ScratchFile file;
    ASSERT_TRUE(file.Write("Hello, "));
    CallbackRecorder resume;
    resume.inspect = [](int code, void* value) {
        if (code == HttpDownloadResume)
            *(int*)value = 1;
    };
    server.Script(HttpAnswer(206, "world", "Content-Range: bytes 7-11/12\r\n"));
    DWORD status = 0;
    ASSERT_EQ(1, Download(client, server.Url(L"/r"), file, &status, &resume, 0,
                          L"Range: bytes=7-\r\n"));
    EXPECT_EQ(206u, status);
    EXPECT_EQ("Hello, world", file.Read());
    EXPECT_EQ("bytes=7-", RequestHeader(server.Requests()[0], "Range"));

    // A server that ignores the range sends the whole file: it replaces the
    // old one instead of being appended to it.
    server.Script(HttpAnswer(200, "Hello, world"));
    ASSERT_EQ(1, Download(client, server.Url(L"/r"), file, &status, &resume, 0,
                          L"Range: bytes=12-\r\n"));
    EXPECT_EQ("Hello, world", file.Read());
}

TEST(HttpClientDownload, FailuresLeaveNoFileBehind)
{
    LoopbackServer server;
    HttpClient client;
    std::string head = HttpHead(200, "Content-Length: 10000\r\n");
    struct Case {
        const char* what;
        LoopbackReply reply;
        DWORD status;
    } cases[] = {
        {"404", HttpAnswer(404, "gone"), 404},
        {"empty body", HttpAnswer(200, ""), 200},
        {"closed mid-body", LoopbackReply().Send(head + PatternBytes(5000)), 200},
        {"reset mid-body", LoopbackReply().Send(head + PatternBytes(5000)).Pause(100).Reset(), 200},
        {"closed before the head", LoopbackReply(), 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFile file;
        ASSERT_TRUE(file.Write("an older file at the target path"));
        server.Script(c.reply);
        DWORD status = 0;
        CallbackRecorder recorder;
        EXPECT_EQ(0, Download(client, server.Url(L"/f"), file, &status, &recorder));
        if (c.status != 200) {
            EXPECT_EQ(c.status, status);
        }
        EXPECT_FALSE(file.Exists());
        EXPECT_FALSE(recorder.Asked(HttpDownloadTotal));
        ASSERT_FALSE(recorder.codes.empty());
        EXPECT_EQ(HttpDownloadFinished, recorder.codes.back());
    }
}

// While the body comes, the old file stays whole at the target; the new one
// takes its place only when complete, and a cut-off one leaves neither it
// nor a temporary file behind.
// A caller that made the file for the download itself has the bytes
// written straight into it (code 12): no temporary file appears beside it,
// and a failed download deletes it all the same. While it is written,
// another thread may delete it.
TEST(HttpClientDownload, InPlaceWritesTheCallersOwnFile)
{
    TempDirectory directory(L"in-place");
    WideString target = directory.File(L"qtm1234.tmp");
    std::string body = PatternBytes(20000);
    std::string head = HttpHead(200, "Content-Length: 20000\r\n");
    LoopbackServer server;
    HttpClient client;
    for (bool complete : {true, false}) {
        SCOPED_TRACE(complete);
        ASSERT_TRUE(directory.Write(L"qtm1234.tmp", ""));
        HANDLE goOn = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        LoopbackReply reply = LoopbackReply().Send(head + body.substr(0, 5000)).WaitFor(goOn);
        server.Script(complete ? reply.Send(body.substr(5000)) : reply.Reset());
        std::atomic<int> result{-1};
        std::wstring url = server.Url(L"/f");
        CallbackRecorder recorder;
        recorder.inspect = [](int code, void* value) {
            if (code == HttpDownloadInPlace)
                *(int*)value = 1;
        };
        std::thread downloader([&] {
            DWORD status = 0;
            result = client.Download(url.c_str(), Agent, target.Text(), 0, &CallbackRecorder::Callback,
                                     &recorder, AcceptAll, (DWORD)-1, &status, (DWORD)-1, 0, nullptr);
        });
        // The file itself is written (sized to the announced length first)
        // while the server waits.
        DWORD start = GetTickCount();
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        while ((!GetFileAttributesExW(target.Text(), GetFileExInfoStandard, &data) ||
                data.nFileSizeLow == 0) &&
               Milliseconds(start) < 60000)
            Sleep(20);
        EXPECT_EQ(20000u, data.nFileSizeLow);
        EXPECT_EQ(std::set<std::wstring>{L"qtm1234.tmp"}, FilesIn(directory.Path()));
        HANDLE deleter = CreateFileW(target.Text(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, deleter) << "the file may be deleted while it is written";
        CloseHandle(deleter);
        SetEvent(goOn);
        downloader.join();
        CloseHandle(goOn);
        EXPECT_EQ(complete ? 1 : 0, result.load());
        if (complete)
            EXPECT_TRUE(directory.Read(L"qtm1234.tmp") == body);
        else
            EXPECT_TRUE(FilesIn(directory.Path()).empty());
    }
}

TEST(HttpClientDownload, ReplacesTheTargetOnlyWhenTheNewFileIsComplete)
{
    TempDirectory directory(L"download");
    WideString target = directory.File(L"Quillmere_new.exe");
    std::string body = PatternBytes(20000);
    std::string head = HttpHead(200, "Content-Length: 20000\r\n");
    LoopbackServer server;
    HttpClient client;
    for (bool complete : {true, false}) {
        SCOPED_TRACE(complete);
        ASSERT_TRUE(directory.Write(L"Quillmere_new.exe", "the good old file"));
        HANDLE goOn = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        LoopbackReply reply = LoopbackReply().Send(head + body.substr(0, 5000)).WaitFor(goOn);
        server.Script(complete ? reply.Send(body.substr(5000)) : reply.Reset());
        std::atomic<int> result{-1};
        std::wstring url = server.Url(L"/f");
        std::thread downloader([&] {
            DWORD status = 0;
            result = client.Download(url.c_str(), Agent, target.Text(), 0, nullptr, nullptr,
                                     AcceptAll, (DWORD)-1, &status, (DWORD)-1, 0, nullptr);
        });
        // The temporary file appears beside the target while the server waits.
        DWORD start = GetTickCount();
        while (FilesIn(directory.Path()).size() < 2 && Milliseconds(start) < 60000)
            Sleep(20);
        EXPECT_EQ(2u, FilesIn(directory.Path()).size());
        EXPECT_EQ("the good old file", directory.Read(L"Quillmere_new.exe"));
        SetEvent(goOn);
        downloader.join();
        CloseHandle(goOn);
        if (complete) {
            EXPECT_EQ(1, result.load());
            EXPECT_TRUE(directory.Read(L"Quillmere_new.exe") == body);
            EXPECT_EQ(std::set<std::wstring>{L"Quillmere_new.exe"}, FilesIn(directory.Path()));
        } else {
            EXPECT_EQ(0, result.load());
            EXPECT_TRUE(FilesIn(directory.Path()).empty());
        }
    }
}

TEST(HttpClientDownload, CodeThreeKeepsTheBytesThatArrived)
{
    LoopbackServer server;
    server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 10000\r\n") +
                                       PatternBytes(5000)));
    HttpClient client;
    ScratchFile file;
    CallbackRecorder keep;
    HttpDownloadOutcome seen = {};
    keep.inspect = [&](int code, void* value) {
        if (code == HttpDownloadFinished) {
            HttpDownloadOutcome* outcome = (HttpDownloadOutcome*)value;
            seen = *outcome;
            outcome->deleteFile = 0;
        }
    };
    DWORD status = 0;
    EXPECT_EQ(0, Download(client, server.Url(L"/partial"), file, &status, &keep));
    EXPECT_EQ(0, seen.result);
    EXPECT_EQ(1, seen.deleteFile);
    EXPECT_EQ((DWORD)ERROR_INTERNET_CONNECTION_ABORTED, seen.error);
    // Exactly what came, not the announced size the file was first given.
    EXPECT_TRUE(file.Read() == PatternBytes(5000));
}

TEST(HttpClientDownload, CallbackAnswersAbortAndMaximumEndsEarly)
{
    LoopbackServer server;
    HttpClient client;
    for (int code : {0, 1, 4, 5, 6, 7, 8, 9}) {
        SCOPED_TRACE(code);
        server.Script(HttpAnswer(200, PatternBytes(3000)));
        ScratchFile file;
        CallbackRecorder recorder;
        recorder.answers[code] = 0;
        DWORD status = 0;
        EXPECT_EQ(0, Download(client, server.Url(L"/a"), file, &status, &recorder));
        EXPECT_FALSE(file.Exists());
    }
    server.Script(HttpAnswer(200, PatternBytes(3000)));
    ScratchFile file;
    DWORD status = 0;
    ASSERT_EQ(1, Download(client, server.Url(L"/m"), file, &status, nullptr, 2500));
    EXPECT_TRUE(file.Read() == PatternBytes(2500)); // cut back from the announced 3000
}

TEST(HttpClientDownload, TargetThatCannotBeOpenedGivesStatus999)
{
    LoopbackServer server;
    server.Script(HttpAnswer(200, "body"));
    HttpClient client;
    DWORD status = 0;
    CallbackRecorder recorder;
    EXPECT_EQ(0, client.Download(server.Url(L"/x").c_str(), Agent,
                                 L"C:\\quillmere-no-such-folder\\sub\\file.bin", 0,
                                 &CallbackRecorder::Callback, &recorder, AcceptAll, (DWORD)-1,
                                 &status, (DWORD)-1, 0, nullptr));
    EXPECT_EQ(999u, status);
    EXPECT_EQ(HttpDownloadFinished, recorder.codes.back());
}

TEST(HttpClientDownload, SpeedLimitHoldsTheRate)
{
    LoopbackServer server;
    std::string body = PatternBytes(64 * 1024);
    server.Script(HttpAnswer(200, body));
    HttpClient client;
    ScratchFile fast, slow;
    DWORD status = 0;
    DWORD start = GetTickCount();
    ASSERT_EQ(1, Download(client, server.Url(L"/fast"), fast, &status));
    DWORD unlimited = Milliseconds(start);
    start = GetTickCount();
    ASSERT_EQ(1, Download(client, server.Url(L"/slow"), slow, &status, nullptr, 0, AcceptAll, 32));
    DWORD limited = Milliseconds(start);
    EXPECT_TRUE(slow.Read() == body);
    // 64 KiB at 32 KiB/s is two seconds; loaded machines may add to it.
    EXPECT_GE(limited, 1700u);
    EXPECT_LE(limited, 4500u);
    EXPECT_LT(unlimited, 1500u);
}

// --- binding ----------------------------------------------------------------

TEST(HttpClientBinding, HeldOnlyWhileAnOperationRuns)
{
    bool loadedBefore = WinInetLoaded();
    LoopbackServer server;
    server.Script(HttpAnswer(200, "x"));
    HttpClient client;
    EXPECT_EQ(0, client.UseCount());
    CallbackRecorder recorder;
    LONG countInside = -1;
    bool loadedInside = false;
    recorder.inspect = [&](int, void*) {
        countInside = client.UseCount();
        loadedInside = WinInetLoaded();
    };
    WideString text;
    ASSERT_EQ(1, client.Get(server.Url(L"/").c_str(), Agent, text, 0, nullptr,
                            &CallbackRecorder::Callback, &recorder));
    EXPECT_EQ(1, countInside);
    EXPECT_TRUE(loadedInside);
    EXPECT_EQ(0, client.UseCount());
    if (!loadedBefore) {
        EXPECT_FALSE(WinInetLoaded());
    }
}

TEST(HttpClientBinding, AModuleWithoutTheEntryPointsFailsEveryOperation)
{
    HttpClient client(L"kernel32.dll");
    WideString text;
    text = L"stale";
    EXPECT_EQ(0, client.Get(L"http://127.0.0.1:1/", Agent, text, 0, nullptr, nullptr, nullptr));
    EXPECT_TRUE(text.IsEmpty());
    ScratchFile file;
    ASSERT_TRUE(file.Write("old"));
    DWORD status = 0;
    EXPECT_EQ(0, Download(client, L"http://127.0.0.1:1/", file, &status));
    EXPECT_EQ(200u, status);
    EXPECT_FALSE(file.Exists());
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.object = L"/";
    EXPECT_EQ(0, client.Request(request));
    ASSERT_EQ(1, client.AddField(L"a", L"b"));
    EXPECT_EQ(0, client.Post(L"127.0.0.1", L"/", L"", nullptr, nullptr, 0, nullptr, nullptr,
                             nullptr, nullptr, 80, 3, nullptr, nullptr, nullptr, nullptr, 0, 0,
                             nullptr, (DWORD)-1, nullptr, 1));
    EXPECT_TRUE(client.Form().IsEmpty());
    EXPECT_EQ(0, client.UseCount());
    HttpClient missing(L"quillmere-no-such-library.dll");
    EXPECT_EQ(0, missing.Get(L"http://127.0.0.1:1/", Agent, text, 0, nullptr, nullptr, nullptr));
}

TEST(HttpClientBinding, ClientsOnSeveralThreadsBindAndUnbindIndependently)
{
    LoopbackServer server;
    server.Script(HttpAnswer(200, "same answer for all"));
    std::atomic<int> successes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            HttpClient client;
            for (int i = 0; i < 3; ++i) {
                WideString text;
                if (client.Get(server.Url(L"/t").c_str(), Agent, text, 0, nullptr, nullptr,
                               nullptr) &&
                    text == L"same answer for all")
                    ++successes;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(12, successes.load());
}
