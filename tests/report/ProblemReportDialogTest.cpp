#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>

#include "ReportSession.h"
#include "common/LoopbackServer.h"
#include "common/TempDirectory.h"
#include "services/MachineId.h"
#include "report/ProblemReportDialog.h"
#include "services/ProgramLaunch.h"

namespace {

typedef ProblemReportDialog Dialog;

const char Boundary[] = "-----------------------------1234567890123"; // 29 hyphens

// Crash files as the crash reporter leaves them: the text report written,
// the dump only when `withDump`.
struct CrashFiles {
    TempDirectory folder{L"report"};
    std::wstring dump = folder.File(L"Quillmere_Debug.dmp").Text();
    std::wstring text = folder.File(L"Quillmere_Debug.txt").Text();
    const std::string report = "Access Violation [0xC0000005] at 0x00401000 in Thread 1.\r\n";
    const std::string dumpBytes = std::string("MDMP\0\x01\xFF\r\n--", 11);

    explicit CrashFiles(bool withDump)
    {
        folder.Write(L"Quillmere_Debug.txt", report);
        if (withDump)
            folder.Write(L"Quillmere_Debug.dmp", dumpBytes);
    }
};

ProblemReportSettings LoopbackSettings(const LoopbackServer& server, HINSTANCE instance = nullptr)
{
    ProblemReportSettings settings;
    settings.instance = instance;
    settings.reportHost = L"127.0.0.1";
    settings.reportPath = L"/services/lumeri/report.php";
    settings.port = server.Port();
    settings.service = INTERNET_SERVICE_HTTP; // the product uses TLS; loopback has no certificate
    return settings;
}

HMODULE PlainModule()
{
    static HMODULE module = LoadLibraryW(L"report_plain.dll");
    return module;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string FieldPart(const std::string& name, const std::string& value)
{
    return std::string("--") + Boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}

std::string FilePart(const std::string& name, const std::string& fileName, const std::string& bytes)
{
    return std::string("--") + Boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
           bytes + "\r\n";
}

// The field values of a posted form, by name.
std::map<std::string, std::string> PostedFields(const std::string& body)
{
    std::map<std::string, std::string> fields;
    const std::string marker = "form-data; name=\"";
    for (size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at)) {
        at += marker.size();
        std::string name = body.substr(at, body.find('"', at) - at);
        size_t value = body.find("\r\n\r\n", at) + 4;
        fields[name] = body.substr(value, body.find(std::string("\r\n--") + Boundary, value) - value);
    }
    return fields;
}

std::wstring LinkUrl(HWND link, int index)
{
    LITEM item = {};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    item.iLink = index;
    if (!SendMessageW(link, LM_GETITEM, 0, (LPARAM)&item))
        return L"(no link)";
    return item.szUrl;
}

void Type(HWND edit, wchar_t ch, int times)
{
    for (int i = 0; i < times; ++i)
        SendMessageW(edit, WM_CHAR, ch, 1);
}

std::wstring launched;

BOOL WINAPI RecordLaunch(SHELLEXECUTEINFOW* info)
{
    launched = info->lpParameters ? info->lpParameters : L"";
    return TRUE;
}

// A click on link `index` as the SysLink reports it to the dialog.
void ClickLink(HWND dialog, HWND link, int index)
{
    NMLINK click = {};
    click.hdr = {link, 0, (UINT)NM_CLICK};
    click.item.mask = LIF_ITEMINDEX | LIF_URL;
    click.item.iLink = index;
    SendMessageW(link, LM_GETITEM, 0, (LPARAM)&click.item);
    SendMessageW(dialog, WM_NOTIFY, 0, (LPARAM)&click);
}

// tools/screenshot.sh photographs the dialog while it is held open.
void HoldForScreenshot()
{
    wchar_t hold[16] = {};
    if (GetEnvironmentVariableW(L"QUILL_SCREENSHOT_HOLD", hold, 16))
        Sleep((DWORD)_wtoi(hold));
}

} // namespace

TEST(ProblemReportDialog, ShowsTheProgramsWebsiteAndBothFiles)
{
    LoopbackServer server;
    CrashFiles files(true);
    ReportSession session(LoopbackSettings(server), files.dump, files.text);
    HWND dialog = session.WaitForDialog();
    ASSERT_NE(nullptr, dialog);

    EXPECT_EQ(L"Quillmere", WindowText(dialog));
    HICON big = (HICON)SendMessageW(dialog, WM_GETICON, ICON_BIG, 0);
    EXPECT_NE(nullptr, big);
    EXPECT_NE(nullptr, (HICON)SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ(big, (HICON)SendMessageW(session.Item(Dialog::IconControl), STM_GETIMAGE, IMAGE_ICON, 0));

    const std::wstring headline = L"Quillmere has stopped working.";
    HWND headlineControl = session.Item(Dialog::HeadlineText);
    EXPECT_EQ(headline, WindowText(headlineControl));
    HFONT font = (HFONT)SendMessageW(headlineControl, WM_GETFONT, 0, 0);
    LOGFONTW logFont = {};
    ASSERT_TRUE(GetObjectW(font, sizeof logFont, &logFont));
    EXPECT_LT(logFont.lfHeight, 40); // the 14 units of the control cannot hold 40 pixels
    EXPECT_GE(logFont.lfHeight, 3);
    EXPECT_TRUE(TextFitsClient(headlineControl, font, headline));

    HWND message = LinkOver(dialog, Dialog::MessageText);
    ASSERT_NE(nullptr, message);
    EXPECT_FALSE(IsWindowVisible(session.Item(Dialog::MessageText)));
    EXPECT_EQ(L"Please tell Tollbrook about this problem.\n\nYou can check the website <a "
              L"href=\"HTTPS://www.tollbrook.example/quillmere\">www.tollbrook.example/quillmere</a> "
              L"for a newer version.",
              WindowText(message));
    EXPECT_EQ(L"HTTPS://www.tollbrook.example/quillmere", LinkUrl(message, 0));

    HWND fileList = LinkOver(dialog, Dialog::FileListText);
    ASSERT_NE(nullptr, fileList);
    EXPECT_FALSE(IsWindowVisible(session.Item(Dialog::FileListText)));
    EXPECT_EQ(L"The files <a href=\"" + files.text + L"\">Quillmere_Debug.txt</a> and <a href=\"" +
                  files.dump + L"\">Quillmere_Debug.dmp</a> will be sent. They do not contain any "
                               L"personal information.",
              WindowText(fileList));
    EXPECT_EQ(files.text, LinkUrl(fileList, 0));
    EXPECT_EQ(files.dump, LinkUrl(fileList, 1));
    ShellExecuteExProc previous = UseShellExecute(&RecordLaunch);
    ClickLink(dialog, fileList, 1);
    EXPECT_EQ(L"url.dll,FileProtocolHandler " + files.dump, launched);
    ClickLink(dialog, message, 0);
    EXPECT_EQ(L"url.dll,FileProtocolHandler HTTPS://www.tollbrook.example/quillmere", launched);
    UseShellExecute(previous == &ShellExecuteExW ? nullptr : previous);

    EXPECT_EQ(L"Can you please describe what you were doing when the problem occurred?",
              WindowText(session.Item(Dialog::DescriptionCaption)));
    EXPECT_EQ(L"Your E-mail address. It will be kept private. Only used to contact you for more details.",
              WindowText(session.Item(Dialog::EmailCaption)));
    EXPECT_EQ(L"Send Problem Report", WindowText(session.Item(Dialog::SendButton)));
    EXPECT_EQ(L"Don't Send", WindowText(session.Item(Dialog::DontSendButton)));
    for (int id : {Dialog::DescriptionEdit, Dialog::EmailEdit}) {
        wchar_t cue[32] = {};
        EXPECT_TRUE(SendMessageW(session.Item(id), EM_GETCUEBANNER, (WPARAM)cue, 32));
        EXPECT_STREQ(L" optional", cue);
    }
    HoldForScreenshot();

    // Escape, where the keyboard focus is, ends the dialog without sending.
    PostMessageW(session.Focus(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(0, session.WaitForResult());
    EXPECT_EQ(0u, server.RequestCount());
}

TEST(ProblemReportDialog, WithoutWebsiteCompanyOrDumpSaysLess)
{
    ASSERT_NE(nullptr, PlainModule()) << "report_plain.dll is built beside the tests";
    LoopbackServer server;
    CrashFiles files(false);
    ReportSession session(LoopbackSettings(server, PlainModule()), L"", files.text);
    HWND dialog = session.WaitForDialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"Plainview", WindowText(dialog));
    EXPECT_EQ(L"Plainview has stopped working.", WindowText(session.Item(Dialog::HeadlineText)));
    HWND message = LinkOver(dialog, Dialog::MessageText);
    ASSERT_NE(nullptr, message);
    EXPECT_EQ(L"Please tell us about this problem.", WindowText(message));
    EXPECT_EQ(L"(no link)", LinkUrl(message, 0));
    HWND fileList = LinkOver(dialog, Dialog::FileListText);
    ASSERT_NE(nullptr, fileList);
    EXPECT_EQ(L"The file <a href=\"" + files.text +
                  L"\">Quillmere_Debug.txt</a> will be sent. It does not contain any personal "
                  L"information.",
              WindowText(fileList));
    EXPECT_EQ(files.text, LinkUrl(fileList, 0));
    EXPECT_EQ(L"(no link)", LinkUrl(fileList, 1));

    SendMessageW(session.Item(Dialog::DontSendButton), BM_CLICK, 0, 0);
    EXPECT_EQ(0, session.WaitForResult());
    EXPECT_EQ(0u, server.RequestCount());
}

TEST(ProblemReportDialog, SendPostsEveryFieldAndBothFilesByteForByte)
{
    LoopbackServer server;
    server.Script(HttpAnswer(200, "thanks"));
    CrashFiles files(false); // the dump could not be written: only its part header goes
    ReportSession session(LoopbackSettings(server), files.dump, files.text);
    ASSERT_NE(nullptr, session.WaitForDialog());
    SetWindowTextW(session.Item(Dialog::DescriptionEdit), L"Clicked Refresh twice");
    SetWindowTextW(session.Item(Dialog::EmailEdit), L"ann@example.com");
    SendMessageW(session.Item(Dialog::SendButton), BM_CLICK, 0, 0);
    ASSERT_EQ(0, session.WaitForResult());

    ASSERT_EQ(1u, server.RequestCount());
    std::string request = server.Requests()[0];
    EXPECT_EQ(0u, request.find("POST /services/lumeri/report.php HTTP/1.1\r\n"));
    EXPECT_EQ(std::string("multipart/form-data; boundary=") + Boundary,
              RequestHeader(request, "Content-Type"));
    WideString machine;
    ASSERT_EQ(1, MachineId(MachineIdForReport, machine));
    std::string expected = FieldPart("a", "r") + FieldPart("p", "Quillmere") + FieldPart("s", "") +
                           FieldPart("v", "1.03 (test build)") +
                           FieldPart("g", Narrow(machine.Text())) +
                           FieldPart("e", "ann@example.com") +
                           FieldPart("x", "Clicked Refresh twice") +
                           FilePart("d", "Quillmere_Debug.dmp", "") +
                           FilePart("t", "Quillmere_Debug.txt", files.report) + "--" + Boundary +
                           "--\r\n";
    EXPECT_EQ(expected, RequestBody(request));
}

TEST(ProblemReportDialog, EditsRefuseTextBeyondTheirLimitsAndTheCallersNamesGo)
{
    ASSERT_NE(nullptr, PlainModule());
    LoopbackServer server;
    server.Script(HttpAnswer(200, ""));
    CrashFiles files(true);
    ProblemReportSettings settings = LoopbackSettings(server, PlainModule());
    settings.programName = L"plainview-beta";
    settings.extraText = L"from the tests";
    ReportSession session(settings, files.dump, files.text);
    ASSERT_NE(nullptr, session.WaitForDialog());
    HWND description = session.Item(Dialog::DescriptionEdit);
    HWND email = session.Item(Dialog::EmailEdit);
    EXPECT_EQ(2046, SendMessageW(description, EM_GETLIMITTEXT, 0, 0));
    Type(email, L'e', 260);
    EXPECT_EQ(258, GetWindowTextLengthW(email));
    // A text set from outside is not held to the limit, but only the
    // limit's worth is sent.
    SetWindowTextW(description, std::wstring(2100, L'x').c_str());
    SendMessageW(description, EM_SETSEL, 2100, 2100);
    Type(description, L'y', 1);
    EXPECT_EQ(2100, GetWindowTextLengthW(description));

    PostMessageW(description, WM_KEYDOWN, VK_RETURN, 0); // Enter presses the default button
    ASSERT_EQ(0, session.WaitForResult());
    ASSERT_EQ(1u, server.RequestCount());
    std::string body = RequestBody(server.Requests()[0]);
    std::map<std::string, std::string> fields = PostedFields(body);
    EXPECT_EQ(std::string(258, 'e'), fields["e"]);
    EXPECT_EQ(std::string(2046, 'x'), fields["x"]);
    EXPECT_EQ("plainview-beta", fields["p"]);
    EXPECT_EQ("from the tests", fields["s"]);
    EXPECT_EQ("2.7", fields["v"]); // the fixed file version: no FileVersion string
    EXPECT_NE(std::string::npos, body.find(FilePart("d", "Quillmere_Debug.dmp", files.dumpBytes)));
}

TEST(ProblemReportDialog, AFailedUploadIsSilentAndNoHostShowsNothing)
{
    LoopbackServer server;
    ProblemReportSettings settings = LoopbackSettings(server);
    server.Stop(); // nobody listens on the port any more
    CrashFiles files(true);
    {
        ReportSession session(settings, files.dump, files.text);
        ASSERT_NE(nullptr, session.WaitForDialog());
        SendMessageW(session.Item(Dialog::SendButton), BM_CLICK, 0, 0);
        EXPECT_EQ(0, session.WaitForResult());
        EXPECT_EQ(1, session.DialogsCreated());
    }
    for (const wchar_t* host : {(const wchar_t*)nullptr, L""}) {
        settings.reportHost = host;
        ReportSession session(settings, files.dump, files.text);
        EXPECT_EQ(1, session.WaitForResult());
        EXPECT_EQ(0, session.DialogsCreated());
    }
}

TEST(ProblemReportDialog, AfterSendItShowsTheReportBeingSentUntilTheUploadEnds)
{
    LoopbackServer server;
    HANDLE answer = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    server.Script(LoopbackReply().WaitFor(answer).Send(
        HttpHead(200, "Content-Length: 6\r\nConnection: close\r\n") + "thanks"));
    CrashFiles files(true);
    ReportSession session(LoopbackSettings(server), files.dump, files.text);
    ASSERT_NE(nullptr, session.WaitForDialog());
    SendMessageW(session.Item(Dialog::SendButton), BM_CLICK, 0, 0);
    for (int i = 0; i < 1500 && server.RequestCount() == 0; ++i)
        Sleep(20);
    ASSERT_EQ(1u, server.RequestCount());

    // The server holds its answer: the dialog stays and says why.
    EXPECT_EQ(+ReportSession::StillRunning, session.WaitForResult(0));
    wchar_t text[128] = {};
    SendMessageW(session.Item(Dialog::FileListText), WM_GETTEXT, 128, (LPARAM)text);
    EXPECT_STREQ(Dialog::SendingText(), text);
    EXPECT_TRUE(IsWindowVisible(session.Item(Dialog::FileListText)));
    EXPECT_FALSE(IsWindowVisible(LinkOver(session.Dialog(), Dialog::FileListText)));
    for (int id : {Dialog::SendButton, Dialog::DontSendButton, Dialog::DescriptionEdit})
        EXPECT_FALSE(IsWindowEnabled(session.Item(id))) << id;

    SetEvent(answer);
    EXPECT_EQ(0, session.WaitForResult());
    CloseHandle(answer);
}

TEST(ProblemReportDialog, AnUploadThatDoesNotEndIsLeftWhenItsTimeIsUp)
{
    LoopbackServer server;
    server.Script(LoopbackReply().Hang());
    ProblemReportSettings settings = LoopbackSettings(server);
    settings.uploadTimeout = 1500;
    CrashFiles files(true);
    ReportSession session(settings, files.dump, files.text);
    ASSERT_NE(nullptr, session.WaitForDialog());
    DWORD start = GetTickCount();
    SendMessageW(session.Item(Dialog::SendButton), BM_CLICK, 0, 0);
    EXPECT_EQ(0, session.WaitForResult()) << "it does not wait for ever";
    EXPECT_GE(GetTickCount() - start, 1400u) << "it waited for the upload";
}

TEST(ProblemReportDialog, BeatsItsHeartbeatWhileItAnswers)
{
    // A crashed process that waits for the dialog tells by the heartbeat
    // that it is up and answering.
    LoopbackServer server;
    volatile LONG beats = 0;
    ProblemReportSettings settings = LoopbackSettings(server);
    settings.heartbeat = &beats;
    CrashFiles files(true);
    ReportSession session(settings, files.dump, files.text);
    ASSERT_NE(nullptr, session.WaitForDialog());
    EXPECT_GE(beats, 1) << "as it comes up";
    for (int i = 0; i < 3000 && beats < 3; ++i)
        Sleep(10);
    EXPECT_GE(beats, 3) << "and on while it is open";
    SendMessageW(session.Item(Dialog::DontSendButton), BM_CLICK, 0, 0);
    EXPECT_EQ(0, session.WaitForResult());
}
