#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "common/FileBytes.h"
#include "common/ScopedTestKey.h"
#include "common/TempDirectory.h"

#include <shlwapi.h>
#include <wincrypt.h>

#include <string>

// Certificates are checked for real: a TLS server on loopback (Python's ssl
// module with certificates openssl makes, started on the Linux side) serves
// two ports with a self-signed certificate each; the test adds the second
// one to the user's trusted roots.

namespace {

const DWORD Patience = 60000;

// The Linux path of a Windows one, from Wine's kernel32.
std::string UnixPath(const wchar_t* path)
{
    typedef char*(CDECL * Convert)(const wchar_t*);
    Convert convert =
        (Convert)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!convert)
        return "";
    char* unix = convert(path);
    if (!unix)
        return "";
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

class TlsServers {
public:
    TlsServers() : work_(L"tls")
    {
        wchar_t exe[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring script = exe;
        script = script.substr(0, script.find_last_of(L'\\') + 1) + L"tls_server.py";
        std::string command = "/usr/bin/python3 \"" + UnixPath(script.c_str()) + "\" \"" +
                              UnixPath(work_.Path()) + "\"";
        std::wstring wide(command.begin(), command.end());
        // The server must not hold the test runner's output pipes: ctest
        // waits for every holder to go.
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                     nullptr);
        STARTUPINFOW startup = {sizeof startup};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nothing;
        PROCESS_INFORMATION process = {};
        // Wine starts a Linux program without giving back a process handle.
        BOOL started = CreateProcessW(nullptr, &wide[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
        if (nothing != INVALID_HANDLE_VALUE)
            CloseHandle(nothing);
        if (!started)
            return;
        // What Wine leaves in hThread then is no handle of ours but whatever
        // the value names in this process (once the cached key of the
        // classes root, which broke every COM lookup after this test).
        if (process.hProcess) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        DWORD start = GetTickCount();
        std::string ready;
        while ((ready = ReadFileBytes(work_.File(L"ready").Text())).empty() &&
               GetTickCount() - start < Patience)
            Sleep(50);
        if (sscanf(ready.c_str(), "%hu %hu", &stranger_, &trusted_) != 2)
            stranger_ = trusted_ = 0;
        certificate_ = ReadFileBytes(work_.File(L"trusted.der").Text());
    }
    // The server also ends when its directory goes with the test.
    ~TlsServers() { work_.Write(L"stop", "stop"); }

    bool Ready() const { return stranger_ && trusted_ && !certificate_.empty(); }
    std::wstring Stranger(const wchar_t* path) const { return Url(stranger_, path); }
    std::wstring Trusted(const wchar_t* path) const { return Url(trusted_, path); }
    INTERNET_PORT StrangerPort() const { return stranger_; }
    INTERNET_PORT TrustedPort() const { return trusted_; }
    // The certificate the test may trust, DER-encoded.
    const std::string& Certificate() const { return certificate_; }

private:
    static std::wstring Url(INTERNET_PORT port, const wchar_t* path)
    {
        return L"https://127.0.0.1:" + std::to_wstring(port) + path;
    }

    TempDirectory work_;
    INTERNET_PORT stranger_ = 0;
    INTERNET_PORT trusted_ = 0;
    std::string certificate_;
};

// A certificate among the user's trusted roots for the length of a test.
// Wine writes a system store to the registry when it is closed, and only
// then do connections see the new root.
class TrustedRoot {
public:
    explicit TrustedRoot(const std::string& der)
    {
        HCERTSTORE store = OpenRoot();
        PCCERT_CONTEXT added = nullptr;
        if (store && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                      (const BYTE*)der.data(), (DWORD)der.size(),
                                                      CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
            hashSize_ = sizeof hash_;
            if (!CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash_, &hashSize_))
                hashSize_ = 0;
            CertFreeCertificateContext(added);
        }
        if (store)
            CertCloseStore(store, 0);
    }
    ~TrustedRoot()
    {
        if (!Added())
            return;
        HCERTSTORE store = OpenRoot();
        CRYPT_HASH_BLOB blob = {hashSize_, hash_};
        PCCERT_CONTEXT found = store ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                                  CERT_FIND_SHA1_HASH, &blob, nullptr)
                                     : nullptr;
        if (found)
            CertDeleteCertificateFromStore(found); // frees the context
        if (store)
            CertCloseStore(store, 0);
        // Wine does not persist the deletion: the key goes too.
        std::wstring key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
        wchar_t digits[3];
        for (DWORD i = 0; i < hashSize_; ++i) {
            wsprintfW(digits, L"%02X", hash_[i]);
            key += digits;
        }
        DeleteRegistryTree(HKEY_CURRENT_USER, key.c_str());
    }
    bool Added() const { return hashSize_ == sizeof hash_; }

private:
    static HCERTSTORE OpenRoot()
    {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    }

    BYTE hash_[20] = {};
    DWORD hashSize_ = 0;
};

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
         HttpCallback callback = nullptr, void* data = nullptr)
{
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.object = L"/report";
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
}
