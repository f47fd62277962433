#include "common/TlsServer.h"

#include <wincrypt.h>

#include <stdio.h>

#include "common/FileBytes.h"
#include "common/ScopedTestKey.h"

namespace {

const DWORD Patience = 60000;

HCERTSTORE OpenRoot()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
}

} // namespace

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

TlsServers::TlsServers(int lifetimeSeconds) : work_(L"tls")
{
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring script = exe;
    script = script.substr(0, script.find_last_of(L'\\') + 1) + L"tls_server.py";
    std::string command = "/usr/bin/python3 \"" + UnixPath(script.c_str()) + "\" \"" +
                          UnixPath(work_.Path()) + "\" " + std::to_string(lifetimeSeconds);
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
    BOOL started = CreateProcessW(nullptr, &wide[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    if (nothing != INVALID_HANDLE_VALUE)
        CloseHandle(nothing);
    if (!started)
        return;
    // What Wine leaves in hThread then is no handle of ours but whatever
    // the value names in this process (once the cached key of the classes
    // root, which broke every COM lookup after this test).
    if (process.hProcess) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DWORD start = GetTickCount();
    std::string ready;
    while ((ready = ReadFileBytes(work_.File(L"ready").Text())).empty() &&
           GetTickCount() - start < Patience)
        Sleep(50);
    if (sscanf(ready.c_str(), "%hu %hu %hu", &stranger_, &trusted_, &relay_) != 3)
        stranger_ = trusted_ = relay_ = 0;
    certificate_ = ReadFileBytes(work_.File(L"trusted.der").Text());
}

// The server also ends when its directory goes with the object.
TlsServers::~TlsServers()
{
    work_.Write(L"stop", "stop");
}

std::wstring TlsServers::Url(INTERNET_PORT port, const wchar_t* path)
{
    return L"https://127.0.0.1:" + std::to_wstring(port) + path;
}

void TlsServers::RelayTo(USHORT port) const
{
    work_.Write(L"backend.tmp", std::to_string(port));
    MoveFileExW(work_.File(L"backend.tmp").Text(), work_.File(L"backend").Text(),
                MOVEFILE_REPLACE_EXISTING);
}

TrustedRoot::TrustedRoot(const std::string& der)
{
    HCERTSTORE store = OpenRoot();
    PCCERT_CONTEXT added = nullptr;
    if (store && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE*)der.data(),
                                                  (DWORD)der.size(),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        hashSize_ = sizeof hash_;
        if (!CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash_, &hashSize_))
            hashSize_ = 0;
        CertFreeCertificateContext(added);
    }
    if (store)
        CertCloseStore(store, 0);
}

TrustedRoot::~TrustedRoot()
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

namespace {

struct ProcessServers {
    TlsServers servers{3600};
    TrustedRoot root{servers.Certificate()};
};

} // namespace

const TlsServers& ProcessTlsServers()
{
    static ProcessServers servers;
    return servers.servers;
}

std::wstring RelayedUrl(USHORT port, const wchar_t* path)
{
    ProcessTlsServers().RelayTo(port);
    return ProcessTlsServers().Relayed(path);
}
