#include "services/HttpClient.h"

#include "services/Base64.h"
#include "services/FileSystem.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

const DWORD GetFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                       INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_RESYNCHRONIZE |
                       INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE; // 0x84080B00
// Redirects are never left to WinINet (OpenUrl adds
// INTERNET_FLAG_NO_AUTO_REDIRECT to every request of Get and Download).
const DWORD DownloadFlags = GetFlags | INTERNET_FLAG_PASSIVE |
                            INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS; // 0x8C084B00
const DWORD RequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                           INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE; // 0x84000300
const DWORD FtpFlags = INTERNET_FLAG_RELOAD | FTP_TRANSFER_TYPE_BINARY; // 0x80000002
const DWORD IgnoreCertificateNameAndDate =
    INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID; // 0x3000
const DWORD IgnoredCertificateErrors =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
    SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID; // 0x3380
const DWORD StatusCodeQuery = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER; // 0x20000013
const DWORD ProxyDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                               FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                               FLAGS_ERROR_UI_FLAGS_GENERATE_DATA; // 7
const DWORD SendExFlags = HSR_CHUNKED | HSR_INITIATE | HSR_SYNC; // 0x2C
const DWORD AllowHttp2 = 2;
const DWORD NoTimeout = (DWORD)-1;
// The status of an answer whose status line could not be read.
const DWORD NoStatus = (DWORD)-1;

const DWORD TextChunk = 65537;
const DWORD ReadBufferSize = 65538;
const DWORD FileChunk = 1024;
const DWORD UploadChunk = 65536;
const DWORD HeaderBufferBytes = 1024;
const DWORD CookieBufferBytes = 10000;
// Room for any 64-bit length and then some.
const DWORD LengthBufferBytes = 64;
const int ProxyAttempts = 2;
// A download without a maximum is never given more room up front than
// this, whatever length the server announces; the file grows as bytes come.
const long long PreSizeLimit = 64ll * 1024 * 1024;

const wchar_t AcceptAll[] = L"Accept: */*\r\n\r\n";

int Ask(HttpCallback callback, void* data, int code, void* value)
{
    return callback ? callback(code, value, data) : 1;
}

class FileHandle {
public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    void Reset(HANDLE handle)
    {
        Close();
        handle_ = handle;
    }
    void Close()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

class ReadBuffer {
public:
    ReadBuffer() : bytes_((BYTE*)malloc(ReadBufferSize)) {}
    ~ReadBuffer() { free(bytes_); }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    BYTE* Bytes() const { return bytes_; }

private:
    BYTE* bytes_;
};

// Keeps a transfer at or below `kibPerSecond`: after each chunk the client
// sleeps whatever the chunk's share of a second is, less the time the chunk
// itself took.
class SpeedLimit {
public:
    explicit SpeedLimit(DWORD kibPerSecond) : limit_(kibPerSecond)
    {
        QueryPerformanceFrequency(&frequency_);
        Restart();
    }

    void AfterChunk(DWORD bytes)
    {
        if (!limit_)
            return;
        unsigned long long due = (unsigned long long)bytes * 1000 / (1024ull * limit_);
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        unsigned long long took =
            (unsigned long long)(now.QuadPart - start_.QuadPart) * 1000 /
            (unsigned long long)(frequency_.QuadPart ? frequency_.QuadPart : 1);
        if (due > took)
            Sleep((DWORD)(due - took));
        Restart();
    }

private:
    void Restart() { QueryPerformanceCounter(&start_); }

    DWORD limit_;
    LARGE_INTEGER frequency_;
    LARGE_INTEGER start_;
};

int IsSecureUrl(const wchar_t* url)
{
    return url && CompareAsciiNoCase(url, L"https://", 8) == 0;
}

char SkipCertificateChecksMarker;

// A Location is read through a buffer of this many bytes; a longer one is
// no address this client follows.
const DWORD LocationBufferBytes = 8192;

bool IsRedirectStatus(DWORD status)
{
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT ||
           status == HTTP_STATUS_REDIRECT_METHOD || status == HTTP_STATUS_REDIRECT_KEEP_VERB ||
           status == HTTP_STATUS_PERMANENT_REDIRECT;
}

int IsWebUrl(const wchar_t* url)
{
    return url && (CompareAsciiNoCase(url, L"https://", 8) == 0 ||
                   CompareAsciiNoCase(url, L"http://", 7) == 0);
}

// The scheme and authority of a web address: everything before the first
// "/", "?" or "#" after "://".
int OriginOf(const wchar_t* url, WideString& origin)
{
    const wchar_t* authority = wcsstr(url, L"://");
    if (!authority)
        return 0;
    authority += 3;
    int end = (int)wcscspn(authority, L"/?#");
    return origin.Assign(url, (int)(authority - url) + end);
}

// A redirect's Location made absolute against the address that answered
// with it; its fragment, which never goes to a server, is dropped.
int ResolveLocation(const wchar_t* base, const wchar_t* location, WideString& next)
{
    next.Clear();
    for (const wchar_t* p = location; *p; ++p)
        if (*p <= 0x20 || *p == 0x7F)
            return 0;
    WideString resolved, origin;
    if (IsWebUrl(location)) {
        if (!resolved.Assign(location))
            return 0;
    } else if (location[0] == L'/' && location[1] == L'/') {
        const wchar_t* colon = wcschr(base, L':');
        if (!colon || !resolved.Assign(base, (int)(colon - base) + 1) || !resolved.Append(location))
            return 0;
    } else if (!OriginOf(base, origin) || !resolved.Assign(origin)) {
        return 0;
    } else if (location[0] == L'/') {
        if (!resolved.Append(location))
            return 0;
    } else {
        // Relative to the folder of the base's path.
        const wchar_t* path = base + origin.Length();
        int pathLength = (int)wcscspn(path, L"?#");
        int folder = 0;
        for (int i = 0; i < pathLength; ++i)
            if (path[i] == L'/')
                folder = i + 1;
        if ((folder ? !resolved.Append(path, folder) : !resolved.Append(L'/')) ||
            !resolved.Append(location))
            return 0;
    }
    int fragment = resolved.Find(L"#");
    if (fragment >= 0)
        resolved.Truncate(fragment);
    return IsWebUrl(resolved.Text()) && next.Assign(resolved);
}

// A Content-Length value: decimal digits with optional blanks around them.
// Anything else (a sign, garbage, a number beyond 64 bits) counts as
// unknown, -1, so a hostile header can neither size the file nor fake the
// completeness check.
long long ParseLength(const wchar_t* text)
{
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t')
        ++p;
    if (*p < L'0' || *p > L'9')
        return -1;
    long long value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        int digit = *p - L'0';
        if (value > (0x7FFFFFFFFFFFFFFFLL - digit) / 10)
            return -1;
        value = value * 10 + digit;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return *p ? -1 : value;
}

// Appends `count` bytes, each as the UTF-16 code unit of the same value; a
// zero byte stays in the text. Grows geometrically, as reads may be small.
int AppendWidened(WideString& text, const BYTE* bytes, DWORD count)
{
    int length = text.Length();
    if (count >= (DWORD)(0x7FFFFFFF - length - 1))
        return 0;
    int needed = length + (int)count + 1;
    if (needed > text.Capacity()) {
        int capacity = text.Capacity() < 0x3FFFFFFF ? text.Capacity() * 2 : needed;
        if (!text.Reserve(capacity > needed ? capacity : needed) && !text.Reserve(needed))
            return 0;
    }
    wchar_t* out = text.Buffer() + length;
    for (DWORD i = 0; i < count; ++i)
        out[i] = (wchar_t)bytes[i];
    text.SetLength(length + (int)count);
    return 1;
}

int SeekTo(HANDLE file, long long position, DWORD method)
{
    LARGE_INTEGER distance;
    distance.QuadPart = position;
    return SetFilePointerEx(file, distance, nullptr, method) != 0;
}

DWORD TextLength(const wchar_t* text, DWORD length)
{
    if (!text)
        return 0;
    return length == (DWORD)-1 ? (DWORD)wcslen(text) : length;
}

} // namespace

void* const HttpSkipCertificateChecks = &SkipCertificateChecksMarker;

// Owner of one WinINet handle of an operation; a handle that Cancel has
// closed meanwhile is not closed again.
class HttpClient::Handle {
public:
    Handle(HttpClient& client, HINTERNET handle) : client_(client), handle_(client.Adopt(handle)) {}
    ~Handle() { client_.Drop(handle_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HttpClient& client_;
    HINTERNET handle_;
};

// Binds the library for the length of one operation and closes the root
// handle that the operation opened.
class HttpClient::Operation {
public:
    explicit Operation(HttpClient& client) : client_(client), bound_(client.Bind() != 0) {}
    ~Operation()
    {
        if (!bound_)
            return;
        client_.CloseRoot();
        client_.Unbind();
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    bool Bound() const { return bound_; }

private:
    HttpClient& client_;
    bool bound_;
};

// Where a Request's response goes: a file, raw bytes or the response text.
struct HttpClient::ResponseSink {
    FileHandle file;
    ByteBuffer* bytes = nullptr;
    WideString* text = nullptr;

    int Deliver(const BYTE* data, DWORD count)
    {
        if (file.IsOpen())
            return WriteAll(file.Get(), data, count);
        if (bytes)
            return bytes->Append(data, count);
        if (text)
            return AppendWidened(*text, data, count);
        return 1;
    }
};

struct HttpClient::DownloadJob {
    const wchar_t* url;
    const wchar_t* path;
    DWORD maximum;
    HttpCallback callback;
    void* data;
    const wchar_t* headers;
    DWORD headersLength;
    DWORD* status;
    DWORD downloadLimit;
    // The file actually written; it takes the target's place when complete.
    WideString* temporary;
};

HttpClient::HttpClient(const wchar_t* libraryName) : libraryName_(libraryName) {}

HttpClient::~HttpClient()
{
    CloseRoot();
    form_.Clear();
}

// --- binding and the root handle -----------------------------------------

int HttpClient::Bind()
{
    if (InterlockedIncrement(&useCount_) != 1)
        return 1;
    if (library_.Load(libraryName_) && BindWinInetApi(library_, api_))
        return 1;
    library_.Release();
    memset(&api_, 0, sizeof api_);
    InterlockedDecrement(&useCount_);
    return 0;
}

void HttpClient::Unbind()
{
    if (InterlockedDecrement(&useCount_) != 0)
        return;
    {
        CriticalSectionLock lock(handles_);
        memset(&api_, 0, sizeof api_);
    }
    library_.Release();
    form_.Clear();
}

HINTERNET HttpClient::Adopt(HINTERNET handle)
{
    if (!handle)
        return nullptr;
    CriticalSectionLock lock(handles_);
    for (HINTERNET& slot : live_) {
        if (!slot && !cancelled_) {
            slot = handle;
            return handle;
        }
    }
    api_.InternetCloseHandle(handle);
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return nullptr;
}

void HttpClient::Drop(HINTERNET handle)
{
    if (!handle)
        return;
    CriticalSectionLock lock(handles_);
    for (HINTERNET& slot : live_) {
        if (slot == handle) {
            slot = nullptr;
            api_.InternetCloseHandle(handle);
            return;
        }
    }
}

// The newest handle first: requests before their connection and root.
void HttpClient::Cancel()
{
    CriticalSectionLock lock(handles_);
    InterlockedExchange(&cancelled_, 1);
    for (int i = MostLiveHandles - 1; i >= 0; --i) {
        if (live_[i] && api_.InternetCloseHandle)
            api_.InternetCloseHandle(live_[i]);
        live_[i] = nullptr;
    }
}

int HttpClient::OpenRoot(const wchar_t* agent, const wchar_t* proxy, DWORD timeout)
{
    bool viaProxy = proxy && *proxy;
    if (cancelled_)
        return 0;
    root_ = Adopt(api_.InternetOpenW(agent ? agent : L"",
                                     viaProxy ? INTERNET_OPEN_TYPE_PROXY
                                              : INTERNET_OPEN_TYPE_PRECONFIG,
                                     viaProxy ? proxy : nullptr, nullptr, 0));
    if (!root_)
        return 0;
    DWORD http2 = AllowHttp2;
    api_.InternetSetOptionW(root_, INTERNET_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof http2);
    SetTimeouts(root_, timeout);
    return 1;
}

void HttpClient::CloseRoot()
{
    Drop(root_);
    root_ = nullptr;
}

void HttpClient::SetTimeouts(HINTERNET handle, DWORD timeout)
{
    if (timeout == NoTimeout)
        return;
    api_.InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    api_.InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
    api_.InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

// --- queries ----------------------------------------------------------------

int HttpClient::QueryStatus(HINTERNET request, DWORD& status)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!api_.HttpQueryInfoW(request, StatusCodeQuery, &value, &size, nullptr))
        return 0;
    status = value;
    return 1;
}

// A header through a buffer of `bytes` bytes. A header that is absent or
// does not fit leaves the text empty.
int HttpClient::QueryHeader(HINTERNET request, DWORD query, const wchar_t* name, DWORD bytes,
                            WideString& text)
{
    text.Clear();
    int characters = (int)(bytes / sizeof(wchar_t));
    if (!text.Reserve(characters + 1))
        return 0;
    if (name && (int)wcslen(name) < characters)
        text.Assign(name); // HTTP_QUERY_CUSTOM reads the header name from the buffer
    DWORD size = (DWORD)characters * sizeof(wchar_t);
    if (!api_.HttpQueryInfoW(request, query, text.Buffer(), &size, nullptr)) {
        text.Clear();
        return 0;
    }
    text.SetLength((int)(size / sizeof(wchar_t)));
    return 1;
}

long long HttpClient::QueryContentLength(HINTERNET request)
{
    WideString text;
    if (!QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH, nullptr, LengthBufferBytes, text))
        return -1;
    return ParseLength(text);
}

int HttpClient::QueryFinalUrl(HINTERNET request, WideString& url)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = (DWORD)(url.Capacity() - 1) * sizeof(wchar_t);
        if (api_.InternetQueryOptionW(request, INTERNET_OPTION_URL, url.Buffer(), &size)) {
            url.Recompute();
            return 1;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size >= 0x10000000 ||
            !url.Reserve((int)(size / sizeof(wchar_t)) + 2))
            break;
    }
    url.Clear();
    return 0;
}

// A redirect must not take a request that began over TLS to plain HTTP:
// what arrives then could come from anyone on the way. A final address
// that cannot be read counts as such a redirect.
int HttpClient::LeftTls(HINTERNET request)
{
    WideString finalUrl;
    return !QueryFinalUrl(request, finalUrl) || !IsSecureUrl(finalUrl.Text());
}

// Redirects are followed here and never by WinINet, which under Wine sends
// a request redirected from https to http in the clear whatever its flags
// say. The handle returned is the last answer's, not yet adopted, with its
// status (NoStatus when it could not be read) and address.
HINTERNET HttpClient::OpenUrl(const wchar_t* url, const wchar_t* headers, DWORD headersLength,
                              DWORD flags, DWORD& status, WideString& address)
{
    bool secure = IsSecureUrl(url) != 0;
    if (!address.Assign(url))
        return nullptr;
    for (int hop = 0;; ++hop) {
        DWORD hopFlags = flags | INTERNET_FLAG_NO_AUTO_REDIRECT;
        if (IsSecureUrl(address.Text()))
            hopFlags |= INTERNET_FLAG_SECURE;
        HINTERNET request = api_.InternetOpenUrlW(root_, address.Text(), headers, headersLength,
                                                  hopFlags, 0);
        status = NoStatus;
        if (!request || !QueryStatus(request, status) || !IsRedirectStatus(status))
            return request;
        // A redirect without a Location stays the answer it is.
        WideString location, next;
        if (!QueryHeader(request, HTTP_QUERY_LOCATION, nullptr, LocationBufferBytes, location) ||
            location.IsEmpty())
            return request;
        int follow = hop < MostRedirects && !cancelled_ && NextLocation(location, address, secure, next);
        DWORD error = GetLastError();
        api_.InternetCloseHandle(request);
        if (!follow) {
            SetLastError(error ? error : ERROR_HTTP_REDIRECT_FAILED);
            return nullptr;
        }
        address = next;
    }
}

// The answer's Location, made absolute: a web address, and an https one
// for a request that began over TLS.
int HttpClient::NextLocation(const WideString& location, const WideString& address,
                             bool mustStaySecure, WideString& next)
{
    SetLastError(ERROR_HTTP_REDIRECT_FAILED);
    if (!ResolveLocation(address.Text(), location.Text(), next))
        return 0;
    if (mustStaySecure && !IsSecureUrl(next.Text())) {
        SetLastError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
        return 0;
    }
    return 1;
}

int HttpClient::AskForProxyCredentials(HWND owner, HINTERNET request)
{
    return api_.InternetErrorDlg(owner, request, ERROR_INTERNET_INCORRECT_PASSWORD,
                                 ProxyDialogFlags, nullptr) == ERROR_INTERNET_FORCE_RETRY;
}

// --- Get --------------------------------------------------------------------

int HttpClient::Get(const wchar_t* url, const wchar_t* agent, WideString& text, DWORD maximum,
                    const wchar_t* proxy, HttpCallback callback, void* data)
{
    text.Clear();
    Operation operation(*this);
    if (!operation.Bound() || !OpenRoot(agent, proxy, NoTimeout))
        return 0;
    DWORD flags = GetFlags;
    if (callback && callback(HttpGetAllowCookies, (void*)url, data) == 1)
        flags &= ~INTERNET_FLAG_NO_COOKIES;
    for (int attempt = 1; attempt <= ProxyAttempts; ++attempt) {
        DWORD status = NoStatus;
        WideString address;
        Handle request(*this, OpenUrl(url, AcceptAll, (DWORD)-1, flags, status, address));
        if (!request || status == NoStatus)
            return 0;
        if (IsSecureUrl(url) && LeftTls(request.Get()))
            return 0;
        if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
            // Wine's WinINet finishes the read a cancel closed the handle
            // under; a cancelled operation still fails.
            if (ReadText(request.Get(), maximum, text) && !cancelled_)
                return 1;
            text.Clear();
            return 0;
        }
        if (status != HTTP_STATUS_PROXY_AUTH_REQ || !dialogOwner_ ||
            !AskForProxyCredentials(dialogOwner_, request.Get()))
            return 0;
    }
    return 0;
}

int HttpClient::ReadText(HINTERNET request, DWORD maximum, WideString& text)
{
    ReadBuffer buffer;
    if (!buffer.Bytes())
        return 0;
    int result = 0;
    DWORD total = 0;
    for (;;) {
        DWORD wanted = TextChunk;
        if (maximum) {
            if (total >= maximum)
                break;
            if (maximum - total < wanted)
                wanted = maximum - total;
        }
        DWORD got = 0;
        if (!api_.InternetReadFile(request, buffer.Bytes(), wanted, &got))
            break;
        result = 1;
        if (!got)
            break;
        if (!AppendWidened(text, buffer.Bytes(), got)) {
            text.Clear();
            return 0;
        }
        total += got;
    }
    return result;
}

// --- Download ---------------------------------------------------------------

int HttpClient::Download(const wchar_t* url, const wchar_t* agent, const wchar_t* path,
                         DWORD maximum, HttpCallback callback, void* data, const wchar_t* headers,
                         DWORD headersLength, DWORD* status, DWORD timeout, DWORD downloadLimit,
                         const wchar_t* proxy)
{
    if (status)
        *status = HTTP_STATUS_OK;
    DWORD error = 0;
    int result = 0;
    // The body is written to a temporary file beside the target, which takes
    // the target's place only when it is complete: a failed or cut-off
    // download never leaves a torn file there, and a good file at the target
    // is not truncated before its successor has arrived.
    WideString temporary;
    {
        Operation operation(*this);
        if (!operation.Bound() || !OpenRoot(agent, proxy, timeout)) {
            error = GetLastError();
        } else {
            DownloadJob job = {url,     path,          maximum, callback,      data,
                               headers, headersLength, status,  downloadLimit, &temporary};
            result = FetchToFile(job, error);
        }
    }
    bool inPlace = !temporary.IsEmpty() && path && temporary == path;
    if (result && !inPlace &&
        !MoveFileExW(temporary.Text(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        result = 0;
    }
    if (result)
        temporary.Clear();
    HttpDownloadOutcome outcome = {result ? 0 : (error ? error : ERROR_GEN_FAILURE), 1, result};
    Ask(callback, data, HttpDownloadFinished, &outcome);
    if (result)
        return 1;
    if (!outcome.deleteFile) {
        // The caller keeps what arrived, at the place it asked for.
        if (!temporary.IsEmpty() && !inPlace &&
            !MoveFileExW(temporary.Text(), path, MOVEFILE_REPLACE_EXISTING))
            DeleteFileW(temporary.Text());
        return 0;
    }
    if (!temporary.IsEmpty() && !inPlace)
        DeleteFileW(temporary.Text());
    if (path && *path)
        DeleteFileW(path);
    return 0;
}

int HttpClient::FetchToFile(const DownloadJob& job, DWORD& error)
{
    DWORD flags = DownloadFlags;
    if (job.callback && job.callback(HttpDownloadAllowCookies, (void*)job.url, job.data) == 1)
        flags &= ~INTERNET_FLAG_NO_COOKIES;
    void* certificate = nullptr;
    Ask(job.callback, job.data, HttpDownloadCertificate, &certificate);
    if (certificate == HttpSkipCertificateChecks)
        flags |= IgnoreCertificateNameAndDate;

    DWORD status = NoStatus;
    WideString address;
    Handle request(*this, OpenUrl(job.url, job.headers, job.headersLength, flags, status, address));
    if (!request) {
        error = GetLastError();
        return 0;
    }
    if (IsSecureUrl(job.url) && LeftTls(request.Get())) {
        error = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
        return 0;
    }
    // A status that cannot be read is no failure of its own.
    if (status != NoStatus) {
        if (job.status)
            *job.status = status;
        if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) {
            error = status;
            return 0;
        }
    } else {
        status = HTTP_STATUS_OK;
    }

    WideString header;
    QueryHeader(request.Get(), HTTP_QUERY_CUSTOM, L"Content-Disposition", HeaderBufferBytes,
                header);
    HttpFileHeader offer = {job.path, header.Text()};
    if (!Ask(job.callback, job.data, HttpDownloadDisposition, &offer)) {
        error = ERROR_CANCELLED;
        return 0;
    }
    QueryHeader(request.Get(), HTTP_QUERY_CONTENT_TYPE, nullptr, HeaderBufferBytes, header);
    offer.value = header.Text();
    if (!Ask(job.callback, job.data, HttpDownloadContentType, &offer)) {
        error = ERROR_CANCELLED;
        return 0;
    }

    int resume = 0;
    Ask(job.callback, job.data, HttpDownloadResume, &resume);
    // Only a partial answer continues the file; a full one appended to it
    // would corrupt it.
    bool appending = resume == 1 && status == HTTP_STATUS_PARTIAL_CONTENT;
    int inPlace = 0;
    Ask(job.callback, job.data, HttpDownloadInPlace, &inPlace);
    WideString& temporary = *job.temporary;
    FileHandle file;
    // A resumed download continues a copy of the partial file, so the file
    // at the target stays as it was until the whole has come; in place, the
    // caller's own file is written. Another thread may delete the file while
    // it is written: whoever lets go of a download removes what it left.
    if (inPlace == 1 ? temporary.Assign(job.path)
                     : CreateTemporaryBeside(job.path, temporary) &&
                           (!appending || CopyFileW(job.path, temporary.Text(), FALSE) ||
                            GetLastError() == ERROR_FILE_NOT_FOUND))
        file.Reset(CreateFileW(temporary.Text(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               appending ? OPEN_ALWAYS : CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsOpen() || (appending && !SeekTo(file.Get(), 0, FILE_END))) {
        error = GetLastError();
        if (job.status)
            *job.status = 999;
        return 0;
    }

    long long length = QueryContentLength(request.Get());
    if (!appending && length > 0) {
        // Claiming the space first keeps the file in one piece; beyond a
        // maximum it would only have to be cut back.
        long long reserve = job.maximum && length > job.maximum ? job.maximum : length;
        if (reserve > PreSizeLimit)
            reserve = PreSizeLimit;
        if (!SeekTo(file.Get(), reserve, FILE_BEGIN) || !SetEndOfFile(file.Get()) ||
            !SeekTo(file.Get(), 0, FILE_BEGIN)) {
            error = GetLastError();
            return 0;
        }
    }
    long long announced = length;
    WideString finalUrl;
    if (!QueryFinalUrl(request.Get(), finalUrl))
        finalUrl = job.url;
    int received = 0;
    if (Ask(job.callback, job.data, HttpDownloadLength, &announced) &&
        Ask(job.callback, job.data, HttpDownloadLengthAddress, &length) &&
        Ask(job.callback, job.data, HttpDownloadFinalUrl, (void*)finalUrl.Text()))
        received = ReceiveBody(request.Get(), file.Get(), job, length, error);
    else
        error = ERROR_CANCELLED;
    // Whatever happened, the file ends after the bytes that came: a kept
    // partial file must not carry the zeros of the early sizing.
    if (!SetEndOfFile(file.Get()) && received) {
        error = GetLastError();
        return 0;
    }
    return received;
}

int HttpClient::ReceiveBody(HINTERNET request, HANDLE file, const DownloadJob& job,
                            long long& length, DWORD& error)
{
    BYTE chunk[FileChunk];
    long long total = 0;
    bool reachedMaximum = false;
    SpeedLimit limit(job.downloadLimit);
    for (;;) {
        DWORD wanted = FileChunk;
        if (job.maximum) {
            if (total >= job.maximum) {
                reachedMaximum = true;
                break;
            }
            if (job.maximum - total < wanted)
                wanted = (DWORD)(job.maximum - total);
        }
        DWORD got = 0;
        if (!api_.InternetReadFile(request, chunk, wanted, &got)) {
            error = GetLastError();
            return 0;
        }
        if (!got)
            break;
        if (!WriteAll(file, chunk, got)) {
            error = GetLastError();
            return 0;
        }
        total += got;
        limit.AfterChunk(got);
        long long written = total;
        if (!Ask(job.callback, job.data, HttpDownloadWritten, &written) ||
            !Ask(job.callback, job.data, HttpDownloadWrittenAddress, &total)) {
            error = ERROR_CANCELLED;
            return 0;
        }
    }
    if (total == 0) {
        error = ERROR_NO_DATA;
        return 0;
    }
    // WinINet reports a connection that closed early like the end of the
    // body, so the announced length is the only sign of a truncated file.
    if (length >= 0 && !reachedMaximum && total < length) {
        error = ERROR_INTERNET_CONNECTION_ABORTED;
        return 0;
    }
    if (!Ask(job.callback, job.data, HttpDownloadTotal, &total)) {
        error = ERROR_CANCELLED;
        return 0;
    }
    return 1;
}

// --- Request ----------------------------------------------------------------

int HttpClient::Request(HttpRequest& request)
{
    if (request.status)
        *request.status = HTTP_STATUS_OK;
    Operation operation(*this);
    if (!operation.Bound())
        return 0;
    DWORD service = request.service;
    bool secure = false;
    if (service == HttpServiceSecure) {
        service = INTERNET_SERVICE_HTTP;
        secure = true;
    }
    if (service != INTERNET_SERVICE_HTTP && service != INTERNET_SERVICE_FTP)
        return 0;
    if (!OpenRoot(request.agent, request.proxy, request.timeout))
        return 0;
    DWORD decoding = 1;
    api_.InternetSetOptionW(root_, INTERNET_OPTION_HTTP_DECODING, &decoding, sizeof decoding);

    Handle connection(*this, api_.InternetConnectW(root_, request.host, request.port,
                                                   request.user, request.password, service, 0,
                                                   0));
    if (!connection)
        return 0;
    // Windows hands the root's time-outs down to the connection; Wine only
    // honours them when they are set on the connection itself.
    SetTimeouts(connection.Get(), request.timeout);

    ResponseSink sink;
    if (!ChooseSink(request, sink))
        return 0;
    int endSession = 0;
    Ask(request.callback, request.data, HttpRequestEndSession, &endSession);
    if (endSession == 1)
        api_.InternetSetOptionW(connection.Get(), INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0);
    if (request.proxyUser && *request.proxyUser)
        api_.InternetSetOptionW(connection.Get(), INTERNET_OPTION_PROXY_USERNAME,
                                (void*)request.proxyUser, (DWORD)wcslen(request.proxyUser) + 1);
    if (request.proxyPassword && *request.proxyPassword)
        api_.InternetSetOptionW(connection.Get(), INTERNET_OPTION_PROXY_PASSWORD,
                                (void*)request.proxyPassword,
                                (DWORD)wcslen(request.proxyPassword) + 1);
    DWORD uploadSize = request.parts ? request.parts->buffers.dwBufferTotal : request.bodyLength;
    if (!Ask(request.callback, request.data, HttpRequestUploadSize, &uploadSize))
        return 0;

    Handle handle(*this, OpenRequestHandle(request, connection.Get(), service, secure));
    if (!handle)
        return 0;
    if (service == INTERNET_SERVICE_HTTP) {
        HttpHeaderAdder adder = {api_.HttpAddRequestHeadersW, handle.Get()};
        if (!Ask(request.callback, request.data, HttpRequestAddHeaders, &adder))
            return 0;
        DWORD error = 0;
        if (!Send(request, handle.Get(), error))
            return 0;
        if ((secure || request.port == INTERNET_DEFAULT_HTTPS_PORT) && LeftTls(handle.Get()))
            return 0;
        DWORD status = 0;
        if (QueryStatus(handle.Get(), status) && request.status)
            *request.status = status;
        if (status == HTTP_STATUS_PROXY_AUTH_REQ &&
            !SendAgainWithProxyCredentials(request, handle.Get()))
            return 0;
        long long length = QueryContentLength(handle.Get());
        long long announced = length;
        if (request.callback &&
            (!request.callback(HttpRequestLength, &announced, request.data) ||
             !request.callback(HttpRequestLengthAddress, &length, request.data) ||
             !OfferCookies(request, handle.Get())))
            return 0;
    }
    return ReadResponse(request, handle.Get(), sink);
}

int HttpClient::ChooseSink(HttpRequest& request, ResponseSink& sink)
{
    int toFile = 0;
    ByteBuffer* bytes = nullptr;
    Ask(request.callback, request.data, HttpRequestToFile, &toFile);
    Ask(request.callback, request.data, HttpRequestByteSink, &bytes);
    if (toFile == 1) {
        if (!request.response || request.response->IsEmpty())
            return 0;
        sink.file.Reset(CreateFileW(request.response->Text(), GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return sink.file.IsOpen();
    }
    if (bytes) {
        sink.bytes = bytes;
        return 1;
    }
    if (request.response) {
        request.response->Clear();
        sink.text = request.response;
    }
    return 1;
}

HINTERNET HttpClient::OpenRequestHandle(const HttpRequest& request, HINTERNET connection,
                                        DWORD service, bool secure)
{
    if (service == INTERNET_SERVICE_FTP)
        return api_.FtpOpenFileW(connection, request.object, GENERIC_READ, FtpFlags, 0);
    DWORD flags = RequestFlags;
    if (request.callback) {
        if (!request.callback(HttpRequestAllowCookies, (void*)request.object, request.data))
            flags |= INTERNET_FLAG_NO_COOKIES;
        if (!request.callback(HttpRequestAllowRedirect, (void*)request.object, request.data))
            flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    }
    // A request over TLS never follows a redirect by itself: WinINet would
    // send it again, body and all, wherever the Location points, plain HTTP
    // included, before anything could refuse what comes back.
    if (request.port == INTERNET_DEFAULT_HTTPS_PORT || secure)
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    const wchar_t* anyType[] = {L"*/*", nullptr};
    HINTERNET handle = api_.HttpOpenRequestW(connection, request.verb, request.object, nullptr,
                                             nullptr,
                                             request.acceptTypes ? request.acceptTypes : anyType,
                                             flags, 0);
    if (!handle)
        return nullptr;
    void* certificate = nullptr;
    Ask(request.callback, request.data, HttpRequestCertificate, &certificate);
    if (certificate == HttpSkipCertificateChecks) {
        DWORD ignored = IgnoredCertificateErrors;
        api_.InternetSetOptionW(handle, INTERNET_OPTION_SECURITY_FLAGS, &ignored, sizeof ignored);
    }
    return handle;
}

int HttpClient::Send(const HttpRequest& request, HINTERNET handle, DWORD& error)
{
    if (request.parts || request.outBuffers)
        return SendParts(request, handle, error);
    DWORD headersLength = TextLength(request.headers, request.headersLength);
    if (api_.HttpSendRequestW(handle, request.headers, headersLength, (void*)request.body,
                              request.bodyLength))
        return 1;
    error = GetLastError();
    if (request.status)
        *request.status = error;
    return 0;
}

int HttpClient::SendParts(const HttpRequest& request, HINTERNET handle, DWORD& error)
{
    // The first part's record carries the headers and the total length; its
    // data goes out with the others below, as WinINet would otherwise send
    // it twice.
    INTERNET_BUFFERSW first = {};
    first.dwStructSize = sizeof first;
    if (request.parts)
        first = request.parts->buffers;
    first.Next = nullptr;
    first.lpvBuffer = nullptr;
    first.dwBufferLength = 0;
    if (!first.lpcszHeader && request.headers) {
        first.lpcszHeader = request.headers;
        first.dwHeadersLength = TextLength(request.headers, request.headersLength);
        first.dwHeadersTotal = first.dwHeadersLength;
    }
    INTERNET_BUFFERSW* in = request.parts || first.lpcszHeader ? &first : nullptr;
    if (!api_.HttpSendRequestExW(handle, in, request.outBuffers, SendExFlags, 0)) {
        error = GetLastError();
        if (request.status)
            *request.status = error;
        return 0;
    }
    DWORD sent = 0;
    if (!Ask(request.callback, request.data, HttpRequestSent, &sent))
        return 0;
    bool inChunks = request.callback || request.uploadLimit;
    SpeedLimit limit(request.uploadLimit);
    for (const HttpFormPart* part = request.parts; part; part = part->next) {
        const BYTE* bytes = (const BYTE*)part->buffers.lpvBuffer;
        DWORD left = part->buffers.dwBufferLength;
        while (left) {
            DWORD piece = inChunks && left > UploadChunk ? UploadChunk : left;
            DWORD written = 0;
            if (!api_.InternetWriteFile(handle, bytes, piece, &written) || written != piece) {
                error = GetLastError();
                return 0;
            }
            bytes += piece;
            left -= piece;
            sent += piece;
            if (inChunks) {
                limit.AfterChunk(piece);
                if (!Ask(request.callback, request.data, HttpRequestSent, &sent))
                    return 0;
            }
        }
    }
    if (!api_.HttpEndRequestW(handle, nullptr, HSR_INITIATE, 0)) {
        error = GetLastError();
        return 0;
    }
    return 1;
}

// A proxy wants credentials: ask the user and send the request again. The
// same sending path is used, so a form goes out complete the second time.
int HttpClient::SendAgainWithProxyCredentials(const HttpRequest& request, HINTERNET handle)
{
    HWND owner = request.owner ? request.owner : dialogOwner_;
    if (!owner || !AskForProxyCredentials(owner, handle))
        return 1;
    DWORD error = 0;
    if (!Send(request, handle, error)) {
        if (error != ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED)
            return 0;
        api_.InternetSetOptionW(handle, INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, nullptr, 0);
        if (!Send(request, handle, error))
            return 0;
    }
    DWORD status = 0;
    if (QueryStatus(handle, status) && request.status)
        *request.status = status;
    return 1;
}

int HttpClient::OfferCookies(const HttpRequest& request, HINTERNET handle)
{
    WideString cookie;
    if (!cookie.Reserve((int)(CookieBufferBytes / sizeof(wchar_t)) + 1))
        return 1;
    DWORD index = 0;
    for (;;) {
        DWORD at = index;
        DWORD size = CookieBufferBytes;
        if (!api_.HttpQueryInfoW(handle, HTTP_QUERY_SET_COOKIE, cookie.Buffer(), &size, &index)) {
            // A cookie too long for the buffer is skipped, not retried forever.
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
                return 1;
            index = at + 1;
            continue;
        }
        cookie.SetLength((int)(size / sizeof(wchar_t)));
        if (!request.callback(HttpRequestCookie, (void*)cookie.Text(), request.data))
            return 0;
        if (index <= at)
            index = at + 1;
    }
}

int HttpClient::ReadResponse(const HttpRequest& request, HINTERNET handle, ResponseSink& sink)
{
    ReadBuffer buffer;
    if (!buffer.Bytes())
        return 0;
    int result = 0;
    long long received = 0;
    SpeedLimit limit(request.downloadLimit);
    for (;;) {
        DWORD wanted = TextChunk;
        if (request.maximum) {
            if (received >= request.maximum)
                break;
            if (request.maximum - received < wanted)
                wanted = (DWORD)(request.maximum - received);
        }
        DWORD got = 0;
        if (!api_.InternetReadFile(handle, buffer.Bytes(), wanted, &got))
            break;
        result = 1;
        if (!got)
            break;
        if (!sink.Deliver(buffer.Bytes(), got)) {
            result = 0;
            break;
        }
        received += got;
        limit.AfterChunk(got);
        long long soFar = received;
        if (!Ask(request.callback, request.data, HttpRequestReceived, &soFar))
            break;
    }
    Ask(request.callback, request.data, HttpRequestEnd, nullptr);
    return result;
}

// --- Post -------------------------------------------------------------------

namespace {

// Content type with the boundary (unless the caller names one), Basic
// authorization when both user and password are given, then the caller's own.
int BuildPostHeaders(const wchar_t* user, const wchar_t* password, const wchar_t* extra,
                     WideString& headers)
{
    headers.Clear();
    if (!extra || !wcsstr(extra, L"Content-Type: ")) {
        if (!headers.Format(L"Content-Type: multipart/form-data; boundary=%s", HttpForm::Boundary))
            return 0;
    }
    if (user && *user && password && *password) {
        WideString pair;
        if (!pair.Format(L"%s:%s", user, password))
            return 0;
        int size = 0;
        char* bytes = pair.ToMultiByte(CP_ACP, &size);
        if (!bytes)
            return 0;
        WideString encoded;
        int encodedOk = EncodeBase64(bytes, (size_t)size, encoded);
        SecureZeroMemory(bytes, (size_t)size);
        free(bytes);
        WideString line;
        if (!encodedOk || !line.Format(L"Authorization: Basic %s", encoded.Text()) ||
            !headers.AppendWithSeparator(line, L"\r\n"))
            return 0;
    }
    if (extra && *extra && !headers.AppendWithSeparator(extra, L"\r\n"))
        return 0;
    return 1;
}

} // namespace

int HttpClient::Post(const wchar_t* host, const wchar_t* path, const wchar_t* agent,
                     WideString* response, HWND owner, DWORD maximum, const wchar_t* user,
                     const wchar_t* password, const wchar_t* proxyUser,
                     const wchar_t* proxyPassword, INTERNET_PORT port, DWORD service,
                     const wchar_t** acceptTypes, HttpCallback callback, void* data,
                     DWORD* status, DWORD downloadLimit, DWORD uploadLimit, const wchar_t* proxy,
                     DWORD timeout, const wchar_t* headers, int close)
{
    int result = 0;
    {
        Operation operation(*this);
        WideString requestHeaders;
        if (operation.Bound() && (close != 1 || form_.AddClosing()) &&
            BuildPostHeaders(user, password, headers, requestHeaders)) {
            if (HttpFormPart* head = form_.Head()) {
                head->buffers.lpcszHeader = requestHeaders.Text();
                head->buffers.dwHeadersLength = (DWORD)requestHeaders.Length();
                head->buffers.dwHeadersTotal = (DWORD)requestHeaders.Length();
            }
            HttpRequest request;
            request.host = host;
            request.object = path;
            request.agent = agent;
            request.response = response;
            request.owner = owner;
            request.maximum = maximum;
            request.user = user;
            request.password = password;
            request.proxyUser = proxyUser;
            request.proxyPassword = proxyPassword;
            request.port = port;
            request.service = service;
            request.verb = L"POST";
            request.headers = requestHeaders.Text();
            request.headersLength = (DWORD)requestHeaders.Length();
            request.acceptTypes = acceptTypes;
            request.parts = form_.Head();
            request.callback = callback;
            request.data = data;
            request.status = status;
            request.downloadLimit = downloadLimit;
            request.uploadLimit = uploadLimit;
            request.proxy = proxy;
            request.timeout = timeout;
            result = Request(request);
        }
    }
    form_.Clear();
    return result;
}
