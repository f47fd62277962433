#include "common/LoopbackServer.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

// Every wait is cut into slices so that Stop() is noticed quickly.
const DWORD SliceMilliseconds = 20;
// An endless body still ends somewhere, so a broken client cannot fill the disk.
const size_t EndlessLimit = 256u * 1024 * 1024;
// A request head larger than this is not a request our clients would send.
const size_t RequestHeadLimit = 4u * 1024 * 1024;

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix)
{
    size_t n = strlen(prefix);
    return text.size() >= at + n && _strnicmp(text.c_str() + at, prefix, n) == 0;
}

// The value of header `name` in a request or answer head, or "" when absent.
std::string HeaderValue(const std::string& head, const char* name)
{
    std::string key = std::string(name) + ":";
    size_t line = head.find("\r\n");
    while (line != std::string::npos && line + 2 < head.size()) {
        size_t start = line + 2;
        size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        if (StartsWithNoCase(head, start, key.c_str())) {
            size_t value = start + key.size();
            while (value < end && head[value] == ' ')
                ++value;
            return head.substr(value, end - value);
        }
        line = end;
    }
    return "";
}

} // namespace

LoopbackReply& LoopbackReply::Send(const std::string& bytes)
{
    steps_.push_back({Kind::Send, bytes, 0});
    return *this;
}

LoopbackReply& LoopbackReply::Pause(DWORD milliseconds)
{
    steps_.push_back({Kind::Pause, std::string(), milliseconds});
    return *this;
}

LoopbackReply& LoopbackReply::WaitFor(HANDLE event, DWORD safetyMilliseconds)
{
    steps_.push_back({Kind::WaitFor, std::string(), safetyMilliseconds, event});
    return *this;
}

LoopbackReply& LoopbackReply::Hang(DWORD safetyMilliseconds)
{
    steps_.push_back({Kind::Hang, std::string(), safetyMilliseconds});
    return *this;
}

LoopbackReply& LoopbackReply::Trickle(const std::string& piece, int count, DWORD interval)
{
    for (int i = 0; i < count; ++i)
        Pause(interval).Send(piece);
    return *this;
}

LoopbackReply& LoopbackReply::Endless(const std::string& piece)
{
    steps_.push_back({Kind::Endless, piece, 0});
    return *this;
}

LoopbackReply& LoopbackReply::Reset()
{
    steps_.push_back({Kind::Reset, std::string(), 0});
    return *this;
}

LoopbackReply& LoopbackReply::KeepOpen()
{
    steps_.push_back({Kind::KeepOpen, std::string(), 0});
    return *this;
}

std::string HttpHead(int status, const std::string& headers)
{
    char line[64];
    snprintf(line, sizeof line, "HTTP/1.1 %d %s\r\n", status, ReasonPhrase(status));
    return line + headers + "\r\n";
}

LoopbackReply HttpAnswer(int status, const std::string& body, const std::string& headers)
{
    std::string all = headers + "Content-Length: " + std::to_string(body.size()) +
                      "\r\nConnection: close\r\n";
    return LoopbackReply().Send(HttpHead(status, all) + body);
}

std::string Chunked(const std::string& body, size_t piece)
{
    std::string out;
    for (size_t at = 0; at < body.size(); at += piece) {
        size_t n = std::min(piece, body.size() - at);
        char size[32];
        snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(body, at, n);
        out += "\r\n";
    }
    return out + "0\r\n\r\n";
}

LoopbackServer::LoopbackServer()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof address;
    if (bind(s, (sockaddr*)&address, sizeof address) != 0 || listen(s, 16) != 0 ||
        getsockname(s, (sockaddr*)&address, &size) != 0) {
        closesocket(s);
        return;
    }
    port_ = ntohs(address.sin_port);
    listener_ = s;
    lastReply_ = HttpAnswer(500, "unscripted");
    acceptor_ = std::thread(&LoopbackServer::AcceptLoop, this);
}

LoopbackServer::~LoopbackServer()
{
    Stop();
    WSACleanup();
}

std::wstring LoopbackServer::Url(const wchar_t* path) const
{
    return L"http://127.0.0.1:" + std::to_wstring(port_) + path;
}

void LoopbackServer::Script(const LoopbackReply& reply)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies_.push_back(reply);
}

std::vector<std::string> LoopbackServer::Requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t LoopbackServer::RequestCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

size_t LoopbackServer::ConnectionCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

void LoopbackServer::Stop()
{
    if (listener_ == INVALID_SOCKET)
        return;
    stopping_ = true;
    if (acceptor_.joinable())
        acceptor_.join();
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    {
        // Workers notice stopping_ within a slice; shutting their sockets
        // down as well ends any send that is stuck on a full window.
        std::lock_guard<std::mutex> lock(mutex_);
        for (SOCKET s : open_)
            shutdown(s, SD_BOTH);
    }
    for (std::thread& worker : workers_)
        if (worker.joinable())
            worker.join();
    workers_.clear();
}

void LoopbackServer::AcceptLoop()
{
    while (!stopping_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        timeval wait = {0, (long)SliceMilliseconds * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        SOCKET connection = accept(listener_, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        ++connections_;
        open_.push_back(connection);
        workers_.emplace_back(&LoopbackServer::Serve, this, connection);
    }
}

void LoopbackServer::Serve(SOCKET connection)
{
    std::string pending;
    bool open = true;
    for (;;) {
        std::string request;
        if (!ReadRequest(connection, pending, request))
            break;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        LoopbackReply reply = NextReply();
        bool closed = false;
        bool keepOpen = Perform(connection, reply, closed);
        if (closed)
            open = false;
        if (!keepOpen)
            break;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_.erase(std::remove(open_.begin(), open_.end(), connection), open_.end());
    }
    if (open) {
        shutdown(connection, SD_SEND);
        closesocket(connection);
    }
}

LoopbackReply LoopbackServer::NextReply()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!replies_.empty()) {
        lastReply_ = replies_.front();
        replies_.pop_front();
    }
    return lastReply_;
}

namespace {

// Waits until `s` is readable (or writable); false on stop or time-out.
bool WaitFor(SOCKET s, bool write, DWORD milliseconds, const std::atomic<bool>& stopping)
{
    DWORD waited = 0;
    while (!stopping) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait = {0, (long)SliceMilliseconds * 1000};
        int ready = select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &wait);
        if (ready > 0)
            return true;
        if (ready < 0)
            return false;
        waited += SliceMilliseconds;
        if (waited >= milliseconds)
            return false;
    }
    return false;
}

bool SendAll(SOCKET s, const char* data, size_t size, const std::atomic<bool>& stopping)
{
    while (size) {
        if (!WaitFor(s, true, 10000, stopping))
            return false;
        int n = send(s, data, (int)std::min<size_t>(size, 65536), 0);
        if (n <= 0)
            return false;
        data += n;
        size -= (size_t)n;
    }
    return true;
}

// Decodes a chunked body starting at `at`; returns the index after the last
// chunk, or npos while it is incomplete.
size_t ChunkedEnd(const std::string& text, size_t at)
{
    for (;;) {
        size_t line = text.find("\r\n", at);
        if (line == std::string::npos)
            return std::string::npos;
        unsigned long size = strtoul(text.c_str() + at, nullptr, 16);
        at = line + 2;
        if (size == 0) {
            size_t end = text.find("\r\n", at);
            return end == std::string::npos ? end : end + 2;
        }
        if (text.size() < at + size + 2)
            return std::string::npos;
        at += size + 2;
    }
}

} // namespace

bool LoopbackServer::ReadRequest(SOCKET connection, std::string& pending, std::string& request)
{
    size_t headEnd = std::string::npos;
    size_t total = std::string::npos;
    for (;;) {
        if (headEnd == std::string::npos) {
            headEnd = pending.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                headEnd += 4;
                std::string head = pending.substr(0, headEnd);
                std::string length = HeaderValue(head, "Content-Length");
                if (_stricmp(HeaderValue(head, "Transfer-Encoding").c_str(), "chunked") == 0)
                    total = 0; // decided once the last chunk is in
                else
                    total = headEnd + (size_t)strtoull(length.c_str(), nullptr, 10);
            } else if (pending.size() > RequestHeadLimit) {
                return false;
            }
        }
        if (headEnd != std::string::npos) {
            size_t end = total;
            if (total == 0)
                end = ChunkedEnd(pending, headEnd);
            if (end != std::string::npos && pending.size() >= end) {
                request = pending.substr(0, end);
                pending.erase(0, end);
                return true;
            }
        }
        // An idle kept-alive connection is dropped after a while.
        if (!WaitFor(connection, false, 15000, stopping_))
            return false;
        char buffer[65536];
        int n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        pending.append(buffer, (size_t)n);
    }
}

bool LoopbackServer::WaitWhileConnected(SOCKET connection, DWORD milliseconds, HANDLE event)
{
    DWORD start = GetTickCount();
    while (!stopping_ && GetTickCount() - start < milliseconds) {
        if (event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
            break;
        if (WaitFor(connection, false, SliceMilliseconds, stopping_)) {
            char probe;
            if (recv(connection, &probe, 1, MSG_PEEK) <= 0)
                return false; // the client went away
            Sleep(SliceMilliseconds);
        }
    }
    return !stopping_;
}

bool LoopbackServer::Perform(SOCKET connection, const LoopbackReply& reply, bool& closed)
{
    for (const LoopbackReply::Step& step : reply.Steps()) {
        switch (step.kind) {
        case LoopbackReply::Kind::Send:
            if (!SendAll(connection, step.bytes.data(), step.bytes.size(), stopping_))
                return false;
            break;
        case LoopbackReply::Kind::Pause:
            if (!WaitWhileConnected(connection, step.milliseconds))
                return false;
            break;
        case LoopbackReply::Kind::WaitFor:
            if (!WaitWhileConnected(connection, step.milliseconds, step.event))
                return false;
            break;
        case LoopbackReply::Kind::Hang:
            WaitWhileConnected(connection, step.milliseconds);
            return false;
        case LoopbackReply::Kind::Endless: {
            size_t sent = 0;
            while (sent < EndlessLimit &&
                   SendAll(connection, step.bytes.data(), step.bytes.size(), stopping_))
                sent += step.bytes.size();
            return false;
        }
        case LoopbackReply::Kind::Reset: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                open_.erase(std::remove(open_.begin(), open_.end(), connection), open_.end());
            }
            linger abort = {1, 0};
            setsockopt(connection, SOL_SOCKET, SO_LINGER, (const char*)&abort, sizeof abort);
            closesocket(connection);
            closed = true;
            return false;
        }
        case LoopbackReply::Kind::KeepOpen:
            return true;
        }
    }
    return false;
}

std::string RequestHeader(const std::string& request, const char* name)
{
    size_t headEnd = request.find("\r\n\r\n");
    return HeaderValue(headEnd == std::string::npos ? request : request.substr(0, headEnd + 2),
                       name);
}

std::string RequestBody(const std::string& request)
{
    size_t headEnd = request.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return "";
    std::string body = request.substr(headEnd + 4);
    if (_stricmp(RequestHeader(request, "Transfer-Encoding").c_str(), "chunked") != 0)
        return body;
    std::string plain;
    size_t at = 0;
    for (;;) {
        size_t line = body.find("\r\n", at);
        if (line == std::string::npos)
            break;
        unsigned long size = strtoul(body.c_str() + at, nullptr, 16);
        if (size == 0)
            break;
        plain.append(body, line + 2, size);
        at = line + 2 + size + 2;
    }
    return plain;
}
