#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "common/FileBytes.h"
#include "common/TempDirectory.h"
#include "common/TlsServer.h"

#include <shlwapi.h>

#include <string>

// Certificates are checked for real: a TLS server on loopback (Python's ssl
// module with certificates openssl makes, started on the Linux side) serves
// two ports with a self-signed certificate each; the test adds the second
// one to the user's trusted roots.

namespace {

int Fetch(HttpClient& client, const std::wstring& url, WideString& text)
{
    return client.Get(url.c_str(), L"AutoUpdate", text, 0, nullptr, nullptr, nullptr);
}

int Save(HttpClient& client, const std::wstring& url, const wchar_t* path,
         HttpCallback callback = nullptr, void* data = nullptr)
{
    DWORD status = 0;
    return client.Download(url.c_str(), L"AutoUpdate", path, 0, callback, data,
                           L"Accept: */*\r\n\r\n", (DWORD)-1, &status, (DWORD)-1, 0, nullptr);
}

int Send(HttpClient& client, INTERNET_PORT port, WideString& response,
         HttpCallback callback = nullptr, void* data = nullptr, const wchar_t* object = L"/report")
{
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.object = object;
    request.agent = L"";
    request.response = &response;
    request.port = port;
    request.service = HttpServiceSecure;
    request.verb = L"GET";
    request.callback = callback;
    request.data = data;
    return client.Request(request);
}

} // namespace

TEST(HttpClientTls, UntrustedCertificatesAreRefusedAndTrustedOnesAccepted)
{
    TlsServers servers;
    ASSERT_TRUE(servers.Ready()) << "the TLS server (python3, openssl) did not start";
    // Wine judges a server's certificate once per process (a root added
    // after the first connection to it goes unseen), so the root goes in
    // before any connection.
    TrustedRoot root(servers.Certificate());
    TempDirectory directory(L"tlsdownload");
    WideString target = directory.File(L"file.bin");
    HttpClient client;
    WideString text;

    // A self-signed certificate that nobody trusts is refused by every
    // operation: the update's Get and Download and the report's Request.
    EXPECT_EQ(0, Fetch(client, servers.Stranger(L"/hello"), text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_EQ(0, Save(client, servers.Stranger(L"/hello"), target.Text()));
    EXPECT_FALSE(PathFileExistsW(target.Text()));
    WideString refused;
    EXPECT_EQ(0, Send(client, servers.StrangerPort(), refused));
    // Only an explicit request skips the checks.
    CallbackRecorder skip;
    skip.inspect = [](int code, void* value) {
        if (code == HttpRequestCertificate)
            *(void**)value = HttpSkipCertificateChecks;
    };
    WideString skipped;
    EXPECT_EQ(1, Send(client, servers.StrangerPort(), skipped, &CallbackRecorder::Callback, &skip));
    EXPECT_EQ(L"tls-ok", TextOf(skipped));

    if (!root.Added()) {
        GTEST_SKIP() << "this Wine prefix does not let a test add a trusted root";
    }
    ASSERT_EQ(1, Fetch(client, servers.Trusted(L"/hello"), text));
    EXPECT_EQ(L"tls-ok", TextOf(text));
    ASSERT_EQ(1, Save(client, servers.Trusted(L"/hello"), target.Text()));
    EXPECT_EQ("tls-ok", directory.Read(L"file.bin"));
    WideString response;
    EXPECT_EQ(1, Send(client, servers.TrustedPort(), response));
    EXPECT_EQ(L"tls-ok", TextOf(response));
    EXPECT_EQ(0, Fetch(client, servers.Stranger(L"/hello"), text)) << "the other one stays refused";

    // A redirect may stay on TLS, but never lead to plain HTTP.
    LoopbackServer plain;
    plain.Script(HttpAnswer(200, "from plain http"));
    std::wstring toPlain = servers.Trusted(L"/redirect?to=") + plain.Url(L"/plain");
    std::wstring toTls = servers.Trusted(L"/redirect?to=") + servers.Trusted(L"/hello");
    EXPECT_EQ(1, Fetch(client, toTls, text));
    EXPECT_EQ(L"tls-ok", TextOf(text));
    EXPECT_EQ(0, Fetch(client, toPlain, text));
    EXPECT_TRUE(text.IsEmpty());
    DeleteFileW(target.Text());
    EXPECT_EQ(0, Save(client, toPlain, target.Text()));
    EXPECT_FALSE(PathFileExistsW(target.Text()));
    // A request over TLS (the problem report's) follows none: its answer
    // is the redirect itself.
    std::wstring redirect = L"/redirect?to=" + plain.Url(L"/plain");
    WideString answer;
    Send(client, servers.TrustedPort(), answer, nullptr, nullptr, redirect.c_str());
    EXPECT_NE(L"from plain http", TextOf(answer));
    // The client follows redirects itself and checks each Location first:
    // nothing goes out in the clear, though Wine's WinINet would send it.
    EXPECT_EQ(0u, plain.RequestCount());
}
