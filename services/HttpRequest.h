#pragma once

#include <windows.h>
#include <wininet.h>

#include "services/WideString.h"

struct HttpFormPart;

// Asked by the HTTP client at fixed points of an operation: (code, value,
// caller's data). What `value` points to and what the answer means depend on
// the operation and the code; see the code lists below.
typedef int (*HttpCallback)(int code, void* value, void* data);

// Get.
enum HttpGetCode {
    HttpGetAllowCookies = 9, // const wchar_t* URL; 1 lets cookies through
};

// Download.
enum HttpDownloadCode {
    HttpDownloadDisposition = 0,     // HttpFileHeader*; 0 aborts
    HttpDownloadContentType = 1,     // HttpFileHeader*; 0 aborts
    HttpDownloadResume = 2,          // int* preset 0; store 1 to append to the file
    HttpDownloadFinished = 3,        // HttpDownloadOutcome*; clear deleteFile to keep a failed file
    HttpDownloadLength = 4,          // const long long* announced length, -1 unknown; 0 aborts
    HttpDownloadLengthAddress = 5,   // long long*, the length the completeness check uses; 0 aborts
    HttpDownloadFinalUrl = 6,        // const wchar_t* URL after redirects; 0 aborts
    HttpDownloadWritten = 7,         // const long long* bytes written so far; 0 aborts
    HttpDownloadWrittenAddress = 8,  // long long*; 0 aborts
    HttpDownloadTotal = 9,           // long long* byte total; 0 marks the download failed
    HttpDownloadAllowCookies = 10,   // const wchar_t* URL; 1 lets cookies through
    HttpDownloadCertificate = 11,    // void** preset nullptr; only HttpSkipCertificateChecks
                                     // stored there turns the name and date checks off
    HttpDownloadInPlace = 12,        // int* preset 0; store 1 to write straight into the file
                                     // at the path, which the caller made for it, instead of
                                     // a temporary file beside it
};

// Request (and Post, which rests on it).
enum HttpRequestCode {
    HttpRequestUploadSize = 0,       // const DWORD* bytes to upload; 0 aborts
    HttpRequestSent = 1,             // const DWORD* bytes sent so far; 0 aborts
    HttpRequestLength = 2,           // const long long* announced length, -1 unknown; 0 aborts
    HttpRequestLengthAddress = 3,    // long long*; 0 aborts
    HttpRequestCookie = 4,           // const wchar_t* one Set-Cookie header; 0 aborts
    HttpRequestReceived = 5,         // const long long* bytes received so far; 0 stops reading
    HttpRequestEnd = 6,              // nullptr, reading is over
    HttpRequestAddHeaders = 7,       // HttpHeaderAdder*; 0 aborts
    HttpRequestEndSession = 8,       // int* preset 0; store 1 to end the browser session
    HttpRequestAllowCookies = 9,     // const wchar_t* object path; 0 blocks cookies
    HttpRequestAllowRedirect = 10,   // const wchar_t* object path; 0 blocks redirects
    HttpRequestToFile = 11,          // int* preset 0; store 1 to write the response to the
                                     // file named by the response field
    HttpRequestCertificate = 12,     // void** preset nullptr; only HttpSkipCertificateChecks
                                     // stored there makes certificate errors ignored
    HttpRequestByteSink = 13,        // ByteBuffer** preset nullptr; set it to receive the
                                     // raw response bytes
};

// Server certificates are checked on every HTTPS operation. A caller that
// must reach a server with a broken certificate says so explicitly by
// storing this value at HttpDownloadCertificate or HttpRequestCertificate;
// nothing stored, or any other value, keeps the checks on.
extern void* const HttpSkipCertificateChecks;

// Value of the Download codes 0 and 1.
struct HttpFileHeader {
    const wchar_t* path;  // the target file
    const wchar_t* value; // the header's text, empty when the answer has none
};

// Value of Download code 3, offered once at the end of every download.
struct HttpDownloadOutcome {
    DWORD error;    // the error number of the failed step, 0 on success
    int deleteFile; // preset 1; a failed download's file is deleted while it stays 1
    int result;     // what Download returns
};

// Value of Request code 7.
struct HttpHeaderAdder {
    decltype(&::HttpAddRequestHeadersW) addRequestHeaders;
    HINTERNET request;
};

// The parameter record of HttpClient::Request.
struct HttpRequest {
    const wchar_t* host = nullptr;
    const wchar_t* object = nullptr; // object path, or the full URL
    const wchar_t* agent = nullptr;
    // Out: the response text (optional). In file mode: the name of the file
    // the response is written to.
    WideString* response = nullptr;
    HWND owner = nullptr;            // for the proxy credentials dialog; none: the client's, else no dialog
    DWORD maximum = 0;               // response bytes to read at most, 0 = no limit
    const wchar_t* user = nullptr;
    const wchar_t* password = nullptr;
    const wchar_t* proxyUser = nullptr;
    const wchar_t* proxyPassword = nullptr;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    DWORD service = INTERNET_SERVICE_HTTP; // 1 FTP, 3 HTTP, 1000 HTTP with TLS
    const wchar_t* verb = nullptr;
    const wchar_t* headers = nullptr;
    DWORD headersLength = (DWORD)-1; // -1: up to the terminating zero
    const void* body = nullptr;
    DWORD bodyLength = 0;
    const wchar_t** acceptTypes = nullptr; // ends with nullptr; none means "*/*"
    HttpFormPart* parts = nullptr;
    INTERNET_BUFFERSW* outBuffers = nullptr;
    HttpCallback callback = nullptr;
    void* data = nullptr;
    DWORD* status = nullptr;         // out: the status code, preset to 200
    DWORD downloadLimit = 0;         // KiB per second, 0 = none
    DWORD uploadLimit = 0;           // KiB per second, 0 = none
    const wchar_t* proxy = nullptr;  // empty = none
    DWORD timeout = (DWORD)-1;       // milliseconds; -1 leaves the library default
};

// Service number that stands for HTTP over TLS.
const DWORD HttpServiceSecure = 1000;
