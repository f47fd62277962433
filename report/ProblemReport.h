#pragma once

#include <windows.h>
#include <wininet.h>

#include "services/HttpRequest.h"
#include "services/WideString.h"
#include "update/WorkerThread.h"

// Where and how a problem report goes, given by whoever captured the crash.
struct ProblemReportSettings {
    // The module whose version resource names the product and whose icon
    // the dialog shows; nullptr means the process's executable.
    HINSTANCE instance = nullptr;
    int iconId = 101;
    // No host (nullptr or ""): nothing is shown and nothing is sent.
    const wchar_t* reportHost = nullptr;
    const wchar_t* reportPath = nullptr;
    // nullptr or "": the version resource's "InternalName".
    const wchar_t* programName = nullptr;
    const wchar_t* extraText = nullptr;
    // The report carries a minidump, which holds process memory: it goes
    // over TLS unless a test serves it on a plain loopback port.
    INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
    DWORD service = HttpServiceSecure;
    // After Send the dialog shows that the report is being sent for at most
    // this long; an upload that takes longer is left to itself.
    DWORD uploadTimeout = 60000;
    // Counted up while the dialog answers (none: not counted), so that a
    // crashed process that waits for it can tell a user who takes time from
    // a dialog that cannot come up or hangs.
    volatile LONG* heartbeat = nullptr;
};

// Asks the user whether to send the crash files `dumpPath` (may be empty:
// no dump) and `textPath` (may be empty too) with a description and an
// e-mail address, and posts them when the user agrees, while the dialog
// shows that the report is being sent. Runs its own modal dialog without an
// owner. 1 when no report host is configured (nothing shown), else 0
// whatever the user chose and whatever the upload did.
[[nodiscard]] int SendProblemReport(const ProblemReportSettings& settings,
                                    const wchar_t* dumpPath, const wchar_t* textPath);

// What the version resource says for the dialog.
struct ProblemReportTexts {
    WideString product;        // "ProductName"
    WideString company;        // "CompanyName", "us" when missing or empty
    WideString website;        // from "Comments" or "SpecialBuild"; empty when neither has one
    WideString websiteDisplay; // the website without its scheme
};

// From the version resource of `moduleFile` (nullptr: the executable).
void ReadProblemReportTexts(const wchar_t* moduleFile, ProblemReportTexts& texts);

// The first web address in `text`: from its "http://" or "https://" (in any
// case) up to the first "]", blank, quote or angle bracket, with one
// trailing "/" removed. 0 when there is none.
[[nodiscard]] int FindWebsite(const wchar_t* text, WideString& website);
// The address without its "http://" or "https://".
void WebsiteDisplayForm(const wchar_t* website, WideString& display);

// The multipart POST of the fields "a", "p", "s", "v", "g", "e", "x" and
// the files "d" and "t". `moduleFile` is where the program name and version
// come from. 1 when the server's answer was read; nothing is sent when a
// field cannot be added. Each network step waits at most UploadStepTimeout.
const DWORD UploadStepTimeout = 20000;
[[nodiscard]] int UploadProblemReport(const ProblemReportSettings& settings,
                                      const wchar_t* moduleFile, const wchar_t* dumpPath,
                                      const wchar_t* textPath, const wchar_t* email,
                                      const wchar_t* description);

// One upload of a problem report on a thread of its own, so that the dialog
// which starts it keeps answering while it runs. Keeps copies of everything
// it sends. Must outlive its thread: one still running when its dialog gives
// up is left to the process's end.
class ReportUpload {
public:
    ReportUpload(const ProblemReportSettings& settings, const wchar_t* moduleFile,
                 const wchar_t* dumpPath, const wchar_t* textPath);
    ReportUpload(const ReportUpload&) = delete;
    ReportUpload& operator=(const ReportUpload&) = delete;

    // Starts the upload with the user's texts; 0 when it cannot start.
    [[nodiscard]] int Start(const wchar_t* email, const wchar_t* description);
    bool IsRunning() const { return worker_.IsRunning(); }

private:
    static DWORD Run(void* self);

    ProblemReportSettings settings_;
    WideString host_, path_, program_, extra_;
    WideString moduleFile_, dumpPath_, textPath_, email_, description_;
    bool hasModuleFile_ = false;
    WorkerThread worker_;
};
