#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/TempDirectory.h"

// Real TLS for the tests: tests/services/tls_server.py, started on the Linux
// side, serves two HTTPS ports with a self-signed certificate each (one the
// test may trust, one it never does) and a relay with the trusted one that
// passes the bytes on to a plain loopback server of the test.
class TlsServers {
public:
    // The servers end after `lifetimeSeconds`, or when this object goes.
    explicit TlsServers(int lifetimeSeconds = 300);
    ~TlsServers();
    TlsServers(const TlsServers&) = delete;
    TlsServers& operator=(const TlsServers&) = delete;

    bool Ready() const { return stranger_ && trusted_ && relay_ && !certificate_.empty(); }
    std::wstring Stranger(const wchar_t* path) const { return Url(stranger_, path); }
    std::wstring Trusted(const wchar_t* path) const { return Url(trusted_, path); }
    INTERNET_PORT StrangerPort() const { return stranger_; }
    INTERNET_PORT TrustedPort() const { return trusted_; }
    // The certificate the test may trust, DER-encoded.
    const std::string& Certificate() const { return certificate_; }

    // Connections to the relay made from now on go on to 127.0.0.1:`port`.
    void RelayTo(USHORT port) const;
    std::wstring Relayed(const wchar_t* path) const { return Url(relay_, path); }

private:
    static std::wstring Url(INTERNET_PORT port, const wchar_t* path);

    TempDirectory work_;
    INTERNET_PORT stranger_ = 0;
    INTERNET_PORT trusted_ = 0;
    INTERNET_PORT relay_ = 0;
    std::string certificate_;
};

// A certificate among the user's trusted roots while the object lives.
// Wine writes a system store to the registry when it is closed, and only
// then do connections see the new root; it judges a server's certificate
// once per process, so the root must be in before the process's first
// connection to the server.
class TrustedRoot {
public:
    explicit TrustedRoot(const std::string& der);
    ~TrustedRoot();
    TrustedRoot(const TrustedRoot&) = delete;
    TrustedRoot& operator=(const TrustedRoot&) = delete;
    bool Added() const { return hashSize_ == sizeof hash_; }

private:
    BYTE hash_[20] = {};
    DWORD hashSize_ = 0;
};

// The servers of this test process, started with their trusted root in
// place before the process's first connection, and left when it ends.
const TlsServers& ProcessTlsServers();
// "https://127.0.0.1:<relay>`path`", relayed to the loopback port `port`
// from now on.
std::wstring RelayedUrl(USHORT port, const wchar_t* path);

// The Linux path of a Windows one, from Wine's kernel32.
std::string UnixPath(const wchar_t* path);
