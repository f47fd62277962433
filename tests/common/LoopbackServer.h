#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the server does with one request it has read, step by step. A reply
// ends by closing the connection gracefully unless it says otherwise.
class LoopbackReply {
public:
    enum class Kind { Send, Pause, Hang, Endless, Reset, KeepOpen, WaitFor };
    struct Step {
        Kind kind;
        std::string bytes;
        DWORD milliseconds;
        HANDLE event = nullptr;
    };

    LoopbackReply& Send(const std::string& bytes);
    // Waits, but gives up early when the client goes away or the server stops.
    LoopbackReply& Pause(DWORD milliseconds);
    // Waits until the test sets `event` (it stays the test's to close), at
    // most `safetyMilliseconds`; gives up early like Pause.
    LoopbackReply& WaitFor(HANDLE event, DWORD safetyMilliseconds = 60000);
    // Never answers: holds the connection until the client closes it, the
    // server stops, or the safety limit runs out.
    LoopbackReply& Hang(DWORD safetyMilliseconds = 30000);
    // Sends `piece` again and again until the client stops reading.
    LoopbackReply& Endless(const std::string& piece);
    // Sends `piece` `count` times, `interval` milliseconds apart: a server
    // that keeps a slow answer going.
    LoopbackReply& Trickle(const std::string& piece, int count, DWORD interval);
    // Aborts the connection (RST) instead of closing it.
    LoopbackReply& Reset();
    // Serves the next request on the same connection.
    LoopbackReply& KeepOpen();

    const std::vector<Step>& Steps() const { return steps_; }

private:
    std::vector<Step> steps_;
};

// A complete answer: status line, the given header lines (each ending in CR
// LF), Content-Length of the body and "Connection: close", then the body.
LoopbackReply HttpAnswer(int status, const std::string& body, const std::string& headers = "");
// The head of an answer only (status line and header lines plus the blank
// line), for scripts that send the body themselves.
std::string HttpHead(int status, const std::string& headers);
// The body in HTTP/1.1 chunked coding, in pieces of at most `piece` bytes.
std::string Chunked(const std::string& body, size_t piece);

// A header's value in a recorded request ("" when absent), and its body
// (chunked coding undone).
std::string RequestHeader(const std::string& request, const char* name);
std::string RequestBody(const std::string& request);

// A scriptable HTTP server on 127.0.0.1 and an ephemeral port, running on
// threads inside the test process. Each request it reads takes the next
// scripted reply; the last reply repeats. It records every request's bytes.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool IsRunning() const { return listener_ != INVALID_SOCKET; }
    USHORT Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::wstring Url(const wchar_t* path = L"/") const;

    void Script(const LoopbackReply& reply);
    // Every request read so far: request line, headers and body bytes.
    std::vector<std::string> Requests() const;
    size_t RequestCount() const;
    // Connections accepted so far, whether or not a request came on them.
    size_t ConnectionCount() const;

    // Closes the listener and every open connection, then joins the threads.
    void Stop();

private:
    void AcceptLoop();
    void Serve(SOCKET connection);
    bool ReadRequest(SOCKET connection, std::string& pending, std::string& request);
    bool Perform(SOCKET connection, const LoopbackReply& reply, bool& closed);
    LoopbackReply NextReply();
    bool WaitWhileConnected(SOCKET connection, DWORD milliseconds, HANDLE event = nullptr);

    SOCKET listener_ = INVALID_SOCKET;
    USHORT port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::deque<LoopbackReply> replies_;
    LoopbackReply lastReply_;
    std::vector<std::string> requests_;
    std::vector<SOCKET> open_;
    size_t connections_ = 0;
    std::vector<std::thread> workers_;
};
