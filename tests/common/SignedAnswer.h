#pragma once

#include <windows.h>

#include <string>

#include "common/LoopbackServer.h"
#include "common/TlsServer.h"
#include "update/UpdateSignature.h"

// The tests' side of the maker: files signed with the tests' private key
// (tests/update/update-test-key.pem), which the programs built for the
// tests accept, and the servers that answer over real TLS.

// 64 lower-case hexadecimal digits.
std::string Sha256Hex(const std::string& bytes);

// Base64 of the signature over the signed text of `version`, `name` and
// `sha256` for `architecture` ("x86" or "x64"; none: this build's).
std::string TestSignature(const std::string& version, const std::string& name,
                          const std::string& sha256, const char* architecture = nullptr);

// The same by another valid key than the tests', which no program
// accepts, and that key's public point.
std::string OtherKeySignature(const std::string& version, const std::string& name,
                              const std::string& sha256);
UpdatePublicKey OtherPublicKey();

// One "url" element of an answer's files, signed for `version`: a program
// file when `name` is given (in the archive `zip` when that is), else an
// installer named by what follows the URL's "=".
std::string SignedEntry(const std::string& url, const std::string& bytes,
                        const std::string& version, const std::string& name = "",
                        const std::string& zip = "");

// "https://127.0.0.1:<relay>`path`" of the process's TLS servers
// (ProcessTlsServers), relayed to `server` from now on.
std::string HttpsUrl(const LoopbackServer& server, const char* path);
std::wstring WideHttpsUrl(const LoopbackServer& server, const char* path);
