#include <gtest/gtest.h>

#include <functional>

#include "common/DialogAnswerer.h"
#include "common/LoopbackServer.h"
#include "common/ScopedTestKey.h"
#include "common/SignedAnswer.h"
#include "common/TempDirectory.h"
#include "UpdateTestSupport.h"
#include "services/MachineId.h"
#include "services/ProgramLaunch.h"
#include "services/RegistryKey.h"
#include "ui/SubclassHook.h"
#include "services/ModulePath.h"
#include "update/AutoUpdater.h"
#include "update/InstallAccess.h"
#include "update/UpdateNotice.h"
#include "update/UpdateRules.h"

// The test executable carries version 1.9 (update.rc). Every check here ends
// before any file would be touched: accepted updates run in the host
// program's own directory (AutoUpdaterHostTest.cpp). The endpoint is a
// loopback server behind the TLS relay.

namespace {

const DWORD Patience = 60000;

// An installer, signed for `version`: without a file the maker signed, no
// update is offered at all.
std::string SignedInstaller(const std::string& version)
{
    std::wstring url = ProcessTlsServers().Relayed(L"/get.php?file=setup.exe");
    return "<files>" + SignedEntry(std::string(url.begin(), url.end()), "an installer", version) +
           "</files>";
}

std::string Answer(const std::string& version, const std::string& more = "",
                   const std::string& info = "<info><en>A new Quillmere is ready.</en></info>")
{
    return "<update><application>Quillmere update</application><version>" + version +
           "</version>" + info + more + SignedInstaller(version) + "</update>";
}

// A top-level window standing for the main window; its close handler is the
// test's to choose.
class OwnerWindow {
public:
    OwnerWindow()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"AutoUpdaterTestOwner";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"Quillmere [1.09]",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, (LONG_PTR)this);
    }
    ~OwnerWindow()
    {
        if (IsWindow(window_))
            DestroyWindow(window_);
    }
    HWND Handle() const { return window_; }
    std::function<void()> onClose;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        OwnerWindow* self = (OwnerWindow*)GetWindowLongPtrW(window, GWLP_USERDATA);
        if (message == WM_CLOSE && self && self->onClose) {
            self->onClose();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_;
};

struct Check {
    ScopedTestKey key{L"autoupdate"};
    LoopbackServer server;
    OwnerWindow owner;
    AutoUpdater updater;

    std::wstring Url() const { return WideHttpsUrl(server, "/common/update.php?p=quillmere"); }
    // Starts a check and waits for its end; the outcome, or -1 when none started.
    int Run(DWORD flags = AutoUpdater::CheckNow)
    {
        if (!updater.StartCheck(Url().c_str(), owner.Handle(), key.Root(), key.Path(),
                                L"LastCheck", flags, nullptr, L"1"))
            return -1;
        EXPECT_EQ(1, updater.WaitForCheck(Patience));
        return (int)updater.LastOutcome();
    }
    std::wstring Declined()
    {
        RegistryKey registry;
        WideString text;
        if (!registry.OpenRead(key.Root(), key.Path()) || !registry.ReadText(L"LastCheckVersion", text))
            return L"";
        return text.Text();
    }
    DWORD LastCheck()
    {
        RegistryKey registry;
        unsigned long long value = 0;
        if (!registry.OpenRead(key.Root(), key.Path()) || !registry.ReadNumber(L"LastCheck", &value))
            return 0xDEADBEEF;
        return (DWORD)value;
    }
    void SetLastCheck(DWORD value)
    {
        RegistryKey registry;
        ASSERT_EQ(1, registry.CreateWrite(key.Root(), key.Path()));
        ASSERT_EQ(1, registry.WriteNumber(L"LastCheck", value));
    }
};

} // namespace

TEST(AutoUpdater, OffersOnlyNewerVersionsThatWereNotDeclined)
{
    Check check;
    DialogAnswerer boxes(0, DialogAnswerer::Press(IDNO));
    struct Case {
        const char* what;
        LoopbackReply reply;
        int outcome;
    } cases[] = {
        {"1.10 against 1.9 is newer", HttpAnswer(200, Answer("1.10")), AutoUpdater::Declined},
        {"declined: not offered again", HttpAnswer(200, Answer("1.10")), AutoUpdater::NoUpdate},
        {"the same numbers written otherwise", HttpAnswer(200, Answer("1.010")),
         AutoUpdater::Declined},
        {"the same version", HttpAnswer(200, Answer("1.9")), AutoUpdater::NoUpdate},
        {"an older one", HttpAnswer(200, Answer("0.99")), AutoUpdater::NoUpdate},
        {"a version that is no number", HttpAnswer(200, Answer("2.x")), AutoUpdater::NoUpdate},
        {"a version without its minor number", HttpAnswer(200, Answer("3")), AutoUpdater::NoUpdate},
        {"no info in the user's language or English",
         HttpAnswer(200, Answer("4.0", "", "<info><fr>Nouvelle version</fr></info>")),
         AutoUpdater::NoUpdate},
        {"no info at all", HttpAnswer(200, Answer("4.0", "", "")), AutoUpdater::NoUpdate},
        {"malformed", HttpAnswer(200, "<update><version>4.0</version><info><en>x</en></inf"),
         AutoUpdater::NoUpdate},
        {"not XML", HttpAnswer(200, "Service unavailable"), AutoUpdater::NoUpdate},
        {"an answer beyond 1 MiB",
         HttpAnswer(200, Answer("4.0", "<!--" + std::string(1024 * 1024, '-') + "-->")),
         AutoUpdater::NoUpdate},
        {"status 404", HttpAnswer(404, Answer("4.0")), AutoUpdater::NoUpdate},
        {"status 500 after a while", LoopbackReply().Pause(200).Send(HttpHead(500, "")),
         AutoUpdater::NoUpdate},
    };
    int asked = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        check.server.Script(c.reply);
        int before = boxes.Count();
        EXPECT_EQ(c.outcome, check.Run());
        bool offered = c.outcome == AutoUpdater::Declined;
        EXPECT_EQ(offered ? before + 1 : before, boxes.Count());
        asked += offered;
    }
    EXPECT_EQ(L"1.010", check.Declined());
    ASSERT_EQ(asked, (int)boxes.Boxes().size());
    DialogAnswerer::Seen first = boxes.Boxes()[0];
    EXPECT_EQ(L"Quillmere update", first.caption);
    EXPECT_EQ(L"A new Quillmere is ready.", first.text);
    EXPECT_FALSE(first.hasHelp);
}

TEST(AutoUpdater, ShowsTheTextOfTheUsersLanguageDecodedFromUtf8)
{
    Check check;
    DialogAnswerer boxes(0, DialogAnswerer::Press(IDNO));
    WideString language;
    UpdateLanguageName(language);
    std::string own(language.Text(), language.Text() + language.Length());
    std::string other = own == "de" ? "fr" : "de";
    // The bytes of "Grüße" in UTF-8, with and without an XML declaration.
    std::string info = "<info><" + other + ">other</" + other + "><" + own + ">Gr\xC3\xBC\xC3\x9F" "e</" +
                       own + "><en>English</en></info>";
    for (const char* declaration : {"", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"}) {
        SCOPED_TRACE(declaration);
        check.server.Script(HttpAnswer(200, declaration + Answer("5.0", "", info)));
        EXPECT_EQ(AutoUpdater::Declined, check.Run());
        RegistryKey registry;
        ASSERT_EQ(1, registry.CreateWrite(check.key.Root(), check.key.Path()));
        registry.WriteText(L"LastCheckVersion", L"");
    }
    ASSERT_EQ(2, boxes.Count());
    for (const DialogAnswerer::Seen& seen : boxes.Boxes())
        EXPECT_EQ(L"Gr\x00FC\x00DF" L"e", seen.text);

    // Without an application name the box takes the window's caption.
    check.server.Script(HttpAnswer(200, "<update><version>6.0</version><info><en>x</en></info>" +
                                            SignedInstaller("6.0") + "</update>"));
    EXPECT_EQ(AutoUpdater::Declined, check.Run());
    ASSERT_EQ(3, boxes.Count());
    EXPECT_EQ(L"Quillmere [1.09]", boxes.Boxes()[2].caption);
}

TEST(AutoUpdater, QueryNamesVersionAndMachineAndTheWrappedAnswerIsRead)
{
    Check check;
    DialogAnswerer boxes(0, DialogAnswerer::Press(IDNO));
    check.server.Script(HttpAnswer(200, Answer("1.9")));
    EXPECT_EQ(AutoUpdater::NoUpdate, check.Run());
    WideString id;
    ASSERT_EQ(1, MachineId(MachineIdForUpdate, id));
    // The 64-bit build asks for its own release; the 32-bit one's request
    // is what it always was.
#if defined(__x86_64__)
    const std::string processor = "&arch=x64";
#else
    const std::string processor = "";
#endif
    std::string expected = "GET /common/update.php?p=quillmere&v=1.9&id=" +
                           std::string(id.Text(), id.Text() + id.Length()) + processor +
                           " HTTP/1.1";
    ASSERT_EQ(1u, check.server.RequestCount());
    EXPECT_EQ(expected, check.server.Requests()[0].substr(0, expected.size()));
    EXPECT_EQ("AutoUpdate", RequestHeader(check.server.Requests()[0], "User-Agent"));

    // The inventory form: its answer lies below Varnholt\Updates\xml.
    check.server.Script(HttpAnswer(200, "<Varnholt><Updates><xml>" + Answer("7.1") +
                                            "</xml></Updates></Varnholt>"));
    EXPECT_EQ(AutoUpdater::Declined, check.Run(AutoUpdater::CheckNow | AutoUpdater::InventoryQuery));
    std::string inventory = check.server.Requests()[1];
    EXPECT_EQ(0u, inventory.find("GET /common/update.php?p=quillmere&a=updates&d=0&f=16&l="));
    EXPECT_NE(std::string::npos, inventory.find("Inventory"));
    EXPECT_NE(std::string::npos, inventory.find("</Varnholt>" + processor + " HTTP/1.1"));
    // The plain answer is no answer to the inventory query.
    check.server.Script(HttpAnswer(200, Answer("7.2")));
    EXPECT_EQ(AutoUpdater::NoUpdate, check.Run(AutoUpdater::CheckNow | AutoUpdater::InventoryQuery));

    // Only the hook: no request is made.
    size_t requests = check.server.RequestCount();
    EXPECT_EQ(1, check.updater.StartCheck(check.Url().c_str(), check.owner.Handle(), check.key.Root(),
                                          check.key.Path(), L"LastCheck",
                                          AutoUpdater::CheckNow | AutoUpdater::HookOnly, nullptr, L"1"));
    EXPECT_FALSE(check.updater.IsChecking());
    wchar_t property[SubclassHook::PropertyNameLength];
    SubclassHook::PropertyName(SubclassTag("auup"), property);
    EXPECT_NE(nullptr, GetPropW(check.owner.Handle(), property));
    check.updater.StopCheck();
    EXPECT_EQ(nullptr, GetPropW(check.owner.Handle(), property));
    EXPECT_EQ(requests, check.server.RequestCount());

    // An endpoint that is not https is not asked at all.
    std::wstring plain = check.server.Url(L"/common/update.php?p=quillmere");
    ASSERT_EQ(1, check.updater.StartCheck(plain.c_str(), check.owner.Handle(), check.key.Root(),
                                          check.key.Path(), L"LastCheck", AutoUpdater::CheckNow,
                                          nullptr, L"1"));
    ASSERT_EQ(1, check.updater.WaitForCheck(Patience));
    EXPECT_EQ((DWORD)AutoUpdater::NoUpdate, check.updater.LastOutcome());
    EXPECT_EQ(requests, check.server.RequestCount());
}

TEST(AutoUpdater, ChecksAtMostOnceAWeek)
{
    Check check;
    check.server.Script(HttpAnswer(404, ""));
    DWORD now = CurrentUnixTime();
    struct Case {
        const char* what;
        DWORD last;
        bool checks;
    } cases[] = {
        {"6 days and 23 hours ago", now - (6 * 86400 + 23 * 3600), false},
        {"7 days and 1 second ago", now - 604801, true},
        {"a minute ago", now - 60, false},
        {"never", 0, true},
        {"in a month: the clock was set back", now + 30 * 86400, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        check.SetLastCheck(c.last);
        size_t before = check.server.RequestCount();
        int outcome = check.Run(0);
        EXPECT_EQ(c.checks ? (int)AutoUpdater::NoUpdate : -1, outcome);
        EXPECT_EQ(before + (c.checks ? 1 : 0), check.server.RequestCount());
        if (c.checks) {
            EXPECT_GE(check.LastCheck(), now) << "written before the check";
        } else {
            EXPECT_EQ(c.last, check.LastCheck());
        }
    }
    // 0xFFFFFFFF skips one start and is reset; the next start checks.
    check.SetLastCheck(0xFFFFFFFF);
    size_t before = check.server.RequestCount();
    EXPECT_EQ(-1, check.Run(0));
    EXPECT_EQ(0u, check.LastCheck());
    EXPECT_EQ(before, check.server.RequestCount());
    EXPECT_EQ((int)AutoUpdater::NoUpdate, check.Run(0));
    EXPECT_EQ(before + 1, check.server.RequestCount());
    // A check that is due whatever the time.
    EXPECT_EQ((int)AutoUpdater::NoUpdate, check.Run(AutoUpdater::CheckNow));

    // The time may live in an INI file beside the program instead.
    std::wstring ini = TestDirectory() + L"update_tests.ini";
    DeleteFileW(ini.c_str());
    before = check.server.RequestCount();
    EXPECT_EQ((int)AutoUpdater::NoUpdate, check.Run(AutoUpdater::CheckTimeInIni));
    EXPECT_EQ(-1, check.Run(AutoUpdater::CheckTimeInIni));
    EXPECT_EQ(before + 1, check.server.RequestCount());
    wchar_t stored[32] = {};
    GetPrivateProfileStringW(L"Settings", L"LastCheck", L"", stored, 32, ini.c_str());
    EXPECT_GE(wcstoul(stored, nullptr, 10), now);
    DeleteFileW(ini.c_str());
}

namespace {

// Another dialog box of the owner's, hidden, that records a No sent to it.
int otherNoes = 0;
WNDPROC otherProcedure = nullptr;

LRESULT CALLBACK RecordOtherCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDNO)
        ++otherNoes;
    return CallWindowProcW(otherProcedure, window, message, wParam, lParam);
}

void DispatchFor(DWORD milliseconds, const std::function<bool()>& done)
{
    DWORD start = GetTickCount();
    MSG message;
    while (!done() && GetTickCount() - start < milliseconds) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace

// The window closes while the question is open: StopCheck runs inside the
// box's own message loop and must neither hang nor count as a No, and it
// closes the question only, not another dialog of the window.
TEST(AutoUpdater, StopCheckDuringAnOpenQuestionClosesOnlyTheQuestion)
{
    Check check;
    HWND other = CreateWindowExW(0, L"#32770", L"Other", WS_POPUP, 0, 0, 100, 100,
                                 check.owner.Handle(), nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, other);
    otherNoes = 0;
    otherProcedure = (WNDPROC)SetWindowLongPtrW(other, GWLP_WNDPROC, (LONG_PTR)&RecordOtherCommands);
    bool stopped = false;
    check.owner.onClose = [&] {
        check.updater.StopCheck();
        stopped = true;
    };
    DialogAnswerer boxes(0, [&](HWND, int) { PostMessageW(check.owner.Handle(), WM_CLOSE, 0, 0); });
    check.server.Script(HttpAnswer(200, Answer("8.0")));
    ASSERT_EQ(1, check.updater.StartCheck(check.Url().c_str(), check.owner.Handle(), check.key.Root(),
                                          check.key.Path(), L"LastCheck", AutoUpdater::CheckNow,
                                          nullptr, L"1"));
    DispatchFor(Patience, [&] { return stopped; });
    ASSERT_TRUE(stopped);
    EXPECT_FALSE(check.updater.IsChecking());
    EXPECT_EQ((DWORD)AutoUpdater::Abandoned, check.updater.LastOutcome());
    EXPECT_EQ(L"", check.Declined()) << "a question closed unanswered is no No";
    EXPECT_EQ(1, boxes.Count());
    // The box went away with the check; the other dialog stays, untouched.
    DispatchFor(Patience, [] { return !FindWindowW(L"#32770", L"Quillmere update"); });
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", L"Quillmere update"));
    EXPECT_TRUE(IsWindow(other));
    EXPECT_EQ(0, otherNoes);
    DestroyWindow(other);
}

// A server that sends a byte now and then holds a request for as long as
// it likes; a closing window waits only a bounded time for the check.
TEST(AutoUpdater, StopCheckReturnsInTimeWhileTheServerTrickles)
{
    Check check;
    check.server.Script(LoopbackReply()
                            .Send(HttpHead(200, "Content-Length: 100000\r\n") + "<update>")
                            .Trickle(" ", 120, 1000));
    ASSERT_EQ(1, check.updater.StartCheck(check.Url().c_str(), check.owner.Handle(), check.key.Root(),
                                          check.key.Path(), L"LastCheck", AutoUpdater::CheckNow,
                                          nullptr, L"1"));
    DispatchFor(Patience, [&] { return check.server.RequestCount() > 0; });
    ASSERT_EQ(1u, check.server.RequestCount());
    DWORD start = GetTickCount();
    check.updater.StopCheck();
    DWORD took = GetTickCount() - start;
    printf("the close returned after %lu ms of a trickling answer\n", took);
    // The answer would take two minutes; the close must not wait for it.
    EXPECT_LT(took, AutoUpdater::StopPatience + 30000);
    EXPECT_FALSE(check.updater.IsChecking());
    EXPECT_EQ((DWORD)AutoUpdater::Abandoned, check.updater.LastOutcome());
}

namespace {

std::vector<std::wstring> launched;

BOOL WINAPI RecordLaunch(SHELLEXECUTEINFOW* info)
{
    launched.push_back(std::wstring(info->lpVerb ? info->lpVerb : L"") + L"|" + info->lpFile + L"|" +
                       std::to_wstring(info->nShow));
    return TRUE;
}

} // namespace

TEST(AutoUpdater, HelpButtonOpensOnlyWebAddresses)
{
    Check check;
    ShellExecuteExProc previous = UseShellExecute(&RecordLaunch);
    // F1 in the box arrives there as WM_HELP, which the box hands to its
    // owner as its Help button does on Windows (Wine's Help button itself
    // does nothing yet).
    DialogAnswerer boxes(0, [](HWND box, int) {
        HELPINFO help = {sizeof help};
        help.iContextType = HELPINFO_WINDOW;
        help.hItemHandle = box;
        SendMessageW(box, WM_HELP, 0, (LPARAM)&help);
        DialogAnswerer::Click(box, IDNO);
    });
    struct Case {
        const char* help;
        bool opened;
    } cases[] = {
        {"https://www.tollbrook.example/quillmere/whatsnew", true},
        {"  http://www.tollbrook.example/  ", true},
        {"C:\\Windows\\System32\\calc.exe", false},
        {"file:///C:/Windows/win.ini", false},
        {"cmd.exe /c echo", false},
        {"\\\\server\\share\\setup.exe", false},
        {"javascript:alert(1)", false},
    };
    int version = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.help);
        launched.clear();
        check.server.Script(HttpAnswer(200, Answer(std::to_string(version++) + ".0",
                                                   std::string("<help>") + c.help + "</help>")));
        EXPECT_EQ(AutoUpdater::Declined, check.Run());
        ASSERT_TRUE(boxes.Boxes().back().hasHelp);
        if (c.opened) {
            // Wine's box passes WM_HELP on to its owner a second time through
            // DefWindowProc; each delivery opens the same address.
            EXPECT_FALSE(launched.empty());
            std::string address = c.help;
            address = address.substr(address.find_first_not_of(' '));
            address = address.substr(0, address.find_last_not_of(' ') + 1);
            for (const std::wstring& launch : launched)
                EXPECT_EQ(L"open|" + std::wstring(address.begin(), address.end()) + L"|" +
                              std::to_wstring(SW_SHOWDEFAULT),
                          launch);
        } else {
            EXPECT_TRUE(launched.empty());
        }
    }
    UseShellExecute(previous == &ShellExecuteExW ? nullptr : previous);
}

namespace {

int MayNotInstall(const wchar_t*, const wchar_t*)
{
    return 0;
}

// Answers No to a question, OK to a notice.
void PressNoOrOk(HWND box, int)
{
    DialogAnswerer::Click(box, GetDlgItem(box, IDNO) ? IDNO : IDOK);
}

// An answer that brings a new build of this very program.
std::string ProgramAnswer(const std::string& version)
{
    std::wstring url = ProcessTlsServers().Relayed(L"/update_tests.zip");
    return "<update><application>Quillmere update</application><version>" + version +
           "</version><info><en>A new Quillmere is ready.</en></info><files>" +
           SignedEntry(std::string(url.begin(), url.end()), "the new build", version,
                       "update_tests.exe") +
           "</files></update>";
}

} // namespace

// A folder this user may not change (the program under Program Files, a
// standard user) is found before anything is fetched: the user is told why
// once, the version is not offered again, and nothing is downloaded.
// Wine lets a root user write everywhere, so the folder's answer is the
// test's; the real question is asked of a folder that may be changed.
TEST(AutoUpdater, AFolderThisUserMayNotChangeIsToldOnceAndNothingIsFetched)
{
    {
        TempDirectory folder(L"access");
        std::wstring program = std::wstring(folder.Path()) + L"\\Quillmere.exe";
        WriteBytes(program, "the program");
        DirectoryState before = StateOf(folder.Path());
        EXPECT_EQ(1, MayInstallInto(folder.Path(), program.c_str()));
        EXPECT_TRUE(StateOf(folder.Path()) == before) << "asking leaves nothing";
        EXPECT_EQ(0, MayInstallInto(L"C:\\no such folder", program.c_str()));
        EXPECT_EQ(0, MayInstallInto(folder.Path(), (program + L".missing").c_str()));
    }
    WideString directory;
    ASSERT_EQ(1, GetExecutableDirectory(directory));

    Check check;
    DialogAnswerer boxes(0, &PressNoOrOk);
    InstallAccessProbe previous = UseInstallAccessProbe(&MayNotInstall);
    check.server.Script(HttpAnswer(200, ProgramAnswer("20.0")));
    EXPECT_EQ((int)AutoUpdater::CannotInstall, check.Run());
    EXPECT_EQ((int)AutoUpdater::NoUpdate, check.Run()) << "not offered again";
    UseInstallAccessProbe(previous);
    ASSERT_EQ(1, boxes.Count());
    WideString told;
    ASSERT_EQ(1, UpdateNoticeText(NoticeCannotInstall, directory.Text(), L"20.0", told));
    EXPECT_EQ(std::wstring(told.Text()), boxes.Boxes()[0].text);
    EXPECT_EQ(2u, check.server.RequestCount()) << "the answer twice, no download";
    EXPECT_EQ(L"20.0", check.Declined());

    // Where the folder may be changed, the same kind of answer is offered.
    check.server.Script(HttpAnswer(200, ProgramAnswer("21.0")));
    EXPECT_EQ((int)AutoUpdater::Declined, check.Run());
    ASSERT_EQ(2, boxes.Count());
    EXPECT_EQ(L"A new Quillmere is ready.", boxes.Boxes()[1].text);

    // The notice exists in both languages.
    WideString german;
    ASSERT_EQ(1, UpdateNoticeText(NoticeCannotInstall, true, L"C:\\Programme\\Quillmere", L"20.0", german));
    EXPECT_NE(std::wstring::npos, std::wstring(german.Text()).find(L"Quillmere 20.0 ist verf\x00FCgbar"));
    EXPECT_NE(std::wstring::npos, std::wstring(german.Text()).find(L"C:\\Programme\\Quillmere"));
}
