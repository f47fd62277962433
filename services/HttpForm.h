#pragma once

#include <windows.h>
#include <wininet.h>

#include "services/WideString.h"

// One piece of a multipart/form-data body. The WinINet record comes first,
// so a record's Next pointer is also the address of the next part.
struct HttpFormPart {
    INTERNET_BUFFERSW buffers;
    HttpFormPart* next;
    char* text;       // the 8-bit text this part owns, or nullptr
    const void* view; // the read-only file view this part owns, or nullptr
};

// The parts of a multipart/form-data body in insertion order. Every part's
// dwBufferTotal carries the sum of all parts' lengths, which WinINet sends
// as the Content-Length.
class HttpForm {
public:
    // 29 hyphens and thirteen digits; every part line starts with two more.
    static const wchar_t Boundary[];

    HttpForm() = default;
    ~HttpForm() { Clear(); }
    HttpForm(const HttpForm&) = delete;
    HttpForm& operator=(const HttpForm&) = delete;

    int AddField(const wchar_t* name, const wchar_t* value);
    // The part header, the whole file mapped read-only, and CR LF. When the
    // file cannot be mapped the part is sent empty and the result is 0.
    int AddFile(const wchar_t* name, const wchar_t* path);
    // The closing delimiter line.
    int AddClosing();

    HttpFormPart* Head() const { return head_; }
    bool IsEmpty() const { return head_ == nullptr; }
    DWORD TotalLength() const { return (DWORD)total_; }
    void Clear();

private:
    int AddText(const WideString& text);
    int AddFileData(const wchar_t* path);
    int Link(HttpFormPart* part);
    void StoreTotal();

    HttpFormPart* head_ = nullptr;
    HttpFormPart* tail_ = nullptr;
    unsigned long long total_ = 0;
};
