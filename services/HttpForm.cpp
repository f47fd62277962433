#include "services/HttpForm.h"

#include <stdlib.h>

const wchar_t HttpForm::Boundary[] = L"-----------------------------1234567890123";

namespace {

HttpFormPart* NewPart()
{
    HttpFormPart* part = (HttpFormPart*)calloc(1, sizeof(HttpFormPart));
    if (part)
        part->buffers.dwStructSize = sizeof(INTERNET_BUFFERSW);
    return part;
}

void FreePart(HttpFormPart* part)
{
    free(part->text);
    if (part->view)
        UnmapViewOfFile(part->view);
    free(part);
}

const wchar_t* LastPathComponent(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            name = p + 1;
    return name;
}

} // namespace

int HttpForm::AddField(const wchar_t* name, const wchar_t* value)
{
    WideString text;
    if (!text.Format(L"--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n",
                     Boundary, name ? name : L"", value ? value : L""))
        return 0;
    return AddText(text);
}

int HttpForm::AddFile(const wchar_t* name, const wchar_t* path)
{
    if (!path)
        path = L"";
    WideString header;
    if (!header.Format(L"--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
                       L"Content-Type: application/octet-stream\r\n\r\n",
                       Boundary, name ? name : L"", LastPathComponent(path)))
        return 0;
    if (!AddText(header))
        return 0;
    int mapped = AddFileData(path);
    // The line end closes the part even without its data, so the body stays
    // well-formed for the parts that follow.
    if (!AddText(WideString(L"\r\n")))
        return 0;
    return mapped;
}

int HttpForm::AddClosing()
{
    WideString line;
    if (!line.Format(L"--%s--\r\n", Boundary))
        return 0;
    return AddText(line);
}

void HttpForm::Clear()
{
    while (head_) {
        HttpFormPart* next = head_->next;
        FreePart(head_);
        head_ = next;
    }
    tail_ = nullptr;
    total_ = 0;
}

int HttpForm::AddText(const WideString& text)
{
    int size = 0;
    char* bytes = text.ToMultiByte(CP_ACP, &size);
    if (!bytes)
        return 0;
    HttpFormPart* part = NewPart();
    if (!part) {
        free(bytes);
        return 0;
    }
    part->text = bytes;
    part->buffers.lpvBuffer = bytes;
    part->buffers.dwBufferLength = (DWORD)size;
    return Link(part);
}

int HttpForm::AddFileData(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER size = {};
    const void* view = nullptr;
    int ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
             (unsigned long long)size.QuadPart + total_ <= MAXDWORD;
    // An empty file cannot be mapped; it is simply a part without data.
    if (ok && size.QuadPart > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping) {
            view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            CloseHandle(mapping); // the view keeps the mapping alive
        }
        ok = view != nullptr;
    }
    CloseHandle(file);
    if (!ok)
        return 0;
    HttpFormPart* part = NewPart();
    if (!part) {
        if (view)
            UnmapViewOfFile(view);
        return 0;
    }
    part->view = view;
    part->buffers.lpvBuffer = (void*)view;
    part->buffers.dwBufferLength = (DWORD)size.QuadPart;
    return Link(part);
}

int HttpForm::Link(HttpFormPart* part)
{
    if (total_ + part->buffers.dwBufferLength > MAXDWORD) {
        FreePart(part);
        return 0;
    }
    if (tail_) {
        tail_->next = part;
        tail_->buffers.Next = &part->buffers;
    } else {
        head_ = part;
    }
    tail_ = part;
    total_ += part->buffers.dwBufferLength;
    StoreTotal();
    return 1;
}

void HttpForm::StoreTotal()
{
    for (HttpFormPart* part = head_; part; part = part->next)
        part->buffers.dwBufferTotal = (DWORD)total_;
}
