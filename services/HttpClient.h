#pragma once

#include <windows.h>
#include <wininet.h>

#include "services/ByteBuffer.h"
#include "services/CriticalSection.h"
#include "services/HttpForm.h"
#include "services/HttpRequest.h"
#include "services/LibraryHolder.h"
#include "services/WideString.h"
#include "services/WinInetApi.h"

// The program's only network component: synchronous HTTP through WinINet,
// which is bound when an operation starts and released when the last one
// ends. One object serves one operation at a time; every operation returns
// 1 or 0 and reports no error text.
class HttpClient {
public:
    // `libraryName` is the module the WinINet entry points come from.
    static const int MostRedirects = 5;

    explicit HttpClient(const wchar_t* libraryName = L"wininet.dll");
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Over HTTPS, every operation checks the server's certificate (unless the
    // callback stores HttpSkipCertificateChecks) and fails when a redirect
    // leads to plain HTTP. Get and Download follow redirects themselves, at
    // most MostRedirects of them, never the platform (which under Wine
    // sends a request redirected from https to http in the clear, whatever
    // its flags say): each Location must be a web address, and one reached
    // over TLS an https one, before any request goes out to it.
    //
    // A proxy that asks for credentials (407) gets the system's credentials
    // dialog only when an owner window is known: the request record's, else
    // the one given here. Without one no dialog is shown and the request
    // ends with the proxy's answer.
    // Fetches `url` into `text`, every body byte widened to the code unit of
    // the same value. 1 when at least one read of the body succeeded. Sets no
    // time-out: the library's defaults apply.
    [[nodiscard]] int Get(const wchar_t* url, const wchar_t* agent, WideString& text, DWORD maximum,
            const wchar_t* proxy, HttpCallback callback, void* data);

    // Fetches `url` into the file `path`. 1 only when the file was written
    // completely: a body that ends before its announced Content-Length fails.
    // The bytes go to a temporary file beside `path` that replaces it only
    // when complete, unless the callback asks for them in place
    // (HttpDownloadInPlace). A failed download deletes the file at `path`
    // unless the callback keeps what arrived. The file being written may be
    // deleted meanwhile by another thread (it goes when the download lets
    // go of it).
    int Download(const wchar_t* url, const wchar_t* agent, const wchar_t* path, DWORD maximum,
                 HttpCallback callback, void* data, const wchar_t* headers, DWORD headersLength,
                 DWORD* status, DWORD timeout, DWORD downloadLimit, const wchar_t* proxy);

    // 1 when at least one read of the response succeeded; the status code
    // does not change the result.
    int Request(HttpRequest& request);

    // The multipart/form-data body of the next Post.
    int AddField(const wchar_t* name, const wchar_t* value) { return form_.AddField(name, value); }
    int AddFile(const wchar_t* name, const wchar_t* path) { return form_.AddFile(name, path); }
    const HttpForm& Form() const { return form_; }

    // Sends the form with verb "POST" (closed first when `close` is 1) and
    // frees its parts afterwards, whatever the outcome.
    int Post(const wchar_t* host, const wchar_t* path, const wchar_t* agent, WideString* response,
             HWND owner, DWORD maximum, const wchar_t* user, const wchar_t* password,
             const wchar_t* proxyUser, const wchar_t* proxyPassword, INTERNET_PORT port,
             DWORD service, const wchar_t** acceptTypes, HttpCallback callback, void* data,
             DWORD* status, DWORD downloadLimit, DWORD uploadLimit, const wchar_t* proxy,
             DWORD timeout, const wchar_t* headers, int close);

    void SetDialogOwner(HWND owner) { dialogOwner_ = owner; }

    // Ends the operation in progress from any thread by closing its WinINet
    // handles, and makes every later operation of this object fail at once.
    // Windows returns from a blocked call as soon as its handle is closed;
    // Wine's WinINet finishes the blocked read first.
    void Cancel();
    bool IsCancelled() const { return cancelled_ != 0; }

    LONG UseCount() const { return useCount_; }

private:
    class Operation;
    class Handle;
    struct ResponseSink;
    struct DownloadJob;

    [[nodiscard]] int Bind();
    void Unbind();
    // Every WinINet handle an operation opens is registered here, so that
    // Cancel can close it and the operation does not close it a second time.
    HINTERNET Adopt(HINTERNET handle);
    void Drop(HINTERNET handle);
    [[nodiscard]] int OpenRoot(const wchar_t* agent, const wchar_t* proxy, DWORD timeout);
    void CloseRoot();
    void SetTimeouts(HINTERNET handle, DWORD timeout);

    [[nodiscard]] int QueryStatus(HINTERNET request, DWORD& status);
    int QueryHeader(HINTERNET request, DWORD query, const wchar_t* name, DWORD bytes,
                    WideString& text);
    long long QueryContentLength(HINTERNET request);
    [[nodiscard]] int QueryFinalUrl(HINTERNET request, WideString& url);
    HINTERNET OpenUrl(const wchar_t* url, const wchar_t* headers, DWORD headersLength, DWORD flags,
                      DWORD& status, WideString& address);
    int NextLocation(const WideString& location, const WideString& address, bool mustStaySecure,
                     WideString& next);
    int LeftTls(HINTERNET request);
    int AskForProxyCredentials(HWND owner, HINTERNET request);

    [[nodiscard]] int ReadText(HINTERNET request, DWORD maximum, WideString& text);
    [[nodiscard]] int FetchToFile(const DownloadJob& job, DWORD& error);
    int ReceiveBody(HINTERNET request, HANDLE file, const DownloadJob& job, long long& length,
                    DWORD& error);

    int ChooseSink(HttpRequest& request, ResponseSink& sink);
    HINTERNET OpenRequestHandle(const HttpRequest& request, HINTERNET connection, DWORD service,
                                bool secure);
    int Send(const HttpRequest& request, HINTERNET handle, DWORD& error);
    int SendParts(const HttpRequest& request, HINTERNET handle, DWORD& error);
    int SendAgainWithProxyCredentials(const HttpRequest& request, HINTERNET handle);
    int OfferCookies(const HttpRequest& request, HINTERNET handle);
    [[nodiscard]] int ReadResponse(const HttpRequest& request, HINTERNET handle, ResponseSink& sink);

    WideString libraryName_;
    LibraryHolder library_;
    WinInetApi api_ = {};
    volatile LONG useCount_ = 0;
    HINTERNET root_ = nullptr;
    static const int MostLiveHandles = 4;
    HINTERNET live_[MostLiveHandles] = {};
    CriticalSection handles_;
    volatile LONG cancelled_ = 0;
    HWND dialogOwner_ = nullptr;
    HttpForm form_;
};
