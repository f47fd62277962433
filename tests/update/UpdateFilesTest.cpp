#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "UpdateTestSupport.h"
#include "ZipBuilder.h"
#include "common/LoopbackServer.h"
#include "common/SignedAnswer.h"
#include "common/TempDirectory.h"
#include "update/UpdateFiles.h"
#include "update/UpdateSteps.h"

namespace {

// An update of 1.9 to 1.10: the program arrives in an archive with a
// license and a guide, the readme and a new library as plain files, and an
// installer for the desktop, where the user keeps a "setup.exe" of their own.
class UpdateScene {
public:
    UpdateScene() : root_(L"swap")
    {
        program_ = std::wstring(root_.Path()) + L"\\program";
        desktop_ = std::wstring(root_.Path()) + L"\\desktop";
        CreateDirectoryW(program_.c_str(), nullptr);
        CreateDirectoryW(desktop_.c_str(), nullptr);
        host_ = ReadBytes(TestDirectory() + L"updatehost.exe");
        next_ = ReadBytes(TestDirectory() + L"updatehost_next.exe");
        WriteBytes(program_ + L"\\Quillmere.exe", host_);
        WriteBytes(program_ + L"\\Quillmere_old.exe", "left by an earlier update");
        WriteBytes(program_ + L"\\License.txt", "old license");
        WriteBytes(program_ + L"\\Readme.txt", "old readme");
        WriteBytes(desktop_ + L"\\setup.exe", "the user's own setup");
        archive = BuildZip({{"Quillmere.exe", next_},
                            {"License.txt", "new license"},
                            {"Help/Guide.txt", "new guide", false}});
    }

    const std::wstring& Program() const { return program_; }
    const std::wstring& Desktop() const { return desktop_; }
    const std::string& Host() const { return host_; }
    const std::string& Next() const { return next_; }

    std::string archive;
    std::string readme = "new readme";
    std::string tool = "new tool";
    std::string installer = "an installer";

    // The bytes the server sends, in the order the downloads ask for them.
    void ServeAll(LoopbackServer& server) const
    {
        server.Script(HttpAnswer(200, archive));
        server.Script(HttpAnswer(200, readme));
        server.Script(HttpAnswer(200, tool));
        server.Script(HttpAnswer(200, installer));
    }

    // The answer, signed for the bytes the scene had when it was built.
    std::string Answer(const LoopbackServer& server) const
    {
        return "<update><version>1.10</version><files>" +
               SignedEntry(HttpsUrl(server, "/Quillmere.zip"), signedArchive_, "1.10",
                           "Quillmere.exe", "Quillmere.zip") +
               SignedEntry(HttpsUrl(server, "/Readme.txt"), "new readme", "1.10", "Readme.txt") +
               SignedEntry(HttpsUrl(server, "/Tool.dll"), "new tool", "1.10", "Tool.dll") +
               "<other>not a file</other>" +
               SignedEntry(HttpsUrl(server, "/get.php?file=setup.exe"), "an installer", "1.10") +
               "</files></update>";
    }
    void SignArchive() { signedArchive_ = archive; }

    // Checks, prepares, swaps and finishes as an accepted update does; any
    // failure rolls back. 1 when the update is in.
    int Install(const std::string& answerText, WideString* installerPath = nullptr)
    {
        XmlDocument answer;
        std::wstring wide(answerText.begin(), answerText.end());
        if (!answer.Open(XmlNoValidation | XmlNoExternals) || !answer.LoadText(wide.c_str()))
            return -1;
        HttpClient http;
        UpdateFiles files(http, program_.c_str(), desktop_.c_str());
        if (!files.Read(answer, nullptr) ||
            !files.Check(L"1.10", L"Quillmere.exe", UpdatePublicKeys, UpdatePublicKeyCount))
            return -1;
        FileJournal journal;
        if (!files.Prepare(journal, nullptr) || !journal.Swap() || !files.PlaceInstaller()) {
            EXPECT_EQ(1, journal.Rollback());
            return 0;
        }
        EXPECT_EQ(1, journal.Finish());
        if (installerPath)
            installerPath->Assign(files.InstallerPath());
        return 1;
    }

private:
    TempDirectory root_;
    std::wstring program_;
    std::wstring desktop_;
    std::string host_;
    std::string next_;
    std::string signedArchive_;
};

// Holds a file open without FILE_SHARE_DELETE from the moment a step is
// announced until the installation has ended, so that it can be neither
// renamed nor deleted, as a virus scanner looking at a fresh file would; or,
// with `appears`, makes a file of another program appear there.
class StepLock {
public:
    StepLock(const std::wstring& step, const std::wstring& path, bool appears = false)
        : step_(step), path_(path), appears_(appears)
    {
        if (!step_.empty())
            WatchUpdateSteps(&Seen, this);
    }
    ~StepLock()
    {
        WatchUpdateSteps(nullptr, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    bool Taken() const { return taken_; }

private:
    static void Seen(const wchar_t* step, void* data)
    {
        StepLock* lock = (StepLock*)data;
        if (lock->taken_ || lock->step_ != step)
            return;
        if (lock->appears_) {
            lock->taken_ = WriteBytes(lock->path_, "another program's");
            return;
        }
        lock->handle_ = CreateFileW(lock->path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        lock->taken_ = lock->handle_ != INVALID_HANDLE_VALUE;
    }

    std::wstring step_;
    std::wstring path_;
    bool appears_;
    bool taken_ = false;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

} // namespace

TEST(UpdateFiles, SwapsTheFilesKeepsOldCopiesAndNeverReplacesTheUsersFiles)
{
    UpdateScene scene;
    scene.SignArchive();
    LoopbackServer server;
    scene.ServeAll(server);
    WideString installer;
    ASSERT_EQ(1, scene.Install(scene.Answer(server), &installer));

    DirectoryState expected = {
        {L"Quillmere.exe", scene.Next()},
        {L"Quillmere_old.exe", scene.Host()},
        {L"License.txt", "new license"},
        {L"Help", "<dir>"},
        {L"Help\\Guide.txt", "new guide"},
        {L"Readme.txt", "new readme"},
        {L"Readme_old.txt", "old readme"},
        {L"Tool.dll", "new tool"},
    };
    DirectoryState after = StateOf(scene.Program());
    EXPECT_TRUE(after == expected) << NamesOf(after);
    // The user's setup.exe stays; the installer takes a name of its own.
    DirectoryState desktop = {{L"setup.exe", "the user's own setup"},
                              {L"setup (2).exe", "an installer"}};
    EXPECT_TRUE(StateOf(scene.Desktop()) == desktop) << NamesOf(StateOf(scene.Desktop()));
    EXPECT_STREQ((scene.Desktop() + L"\\setup (2).exe").c_str(), installer.Text());
    EXPECT_EQ("1.10\r\n", RunPlainly(scene.Program()));
    // The downloads asked for each file once, in the answer's order.
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(4u, requests.size());
    EXPECT_EQ(0u, requests[0].find("GET /Quillmere.zip "));
    EXPECT_EQ(0u, requests[3].find("GET /get.php?file=setup.exe "));
}

// Whatever the answer says, only what the maker signed for this version,
// this processor and this name is ever fetched.
TEST(UpdateFiles, AnswersTheMakerDidNotSignAreRefusedBeforeAnythingIsFetched)
{
    UpdateScene scene;
    LoopbackServer server;
    std::string url = HttpsUrl(server, "/Quillmere.exe");
    std::string next = scene.Next();
    std::string digest = Sha256Hex(next);
    const char* otherProcessor = sizeof(void*) == 8 ? "x86" : "x64";
    auto entry = [&](const std::string& attributes, const std::string& address) {
        return "<url name=\"Quillmere.exe\"" + attributes + ">" + address + "</url>";
    };
    auto signedBy = [&](const std::string& version, const std::string& name, const char* arch) {
        return " sha256=\"" + digest + "\" signature=\"" + TestSignature(version, name, digest, arch) + "\"";
    };
    std::string plainUrl = "http" + url.substr(5);
    struct Case {
        const char* what;
        std::string files;
    } cases[] = {
        {"unsigned", entry(" sha256=\"" + digest + "\"", url)},
        {"no digest", entry(" signature=\"" + TestSignature("1.10", "Quillmere.exe", digest) + "\"", url)},
        {"signed by a valid key no program accepts",
         entry(" sha256=\"" + digest + "\" signature=\"" +
                   OtherKeySignature("1.10", "Quillmere.exe", digest) + "\"", url)},
        {"signed for another version", entry(signedBy("1.9", "Quillmere.exe", nullptr), url)},
        {"signed for the other processor", entry(signedBy("1.10", "Quillmere.exe", otherProcessor), url)},
        {"signed for another file", entry(signedBy("1.10", "Tool.exe", nullptr), url)},
        {"over plain HTTP", entry(signedBy("1.10", "Quillmere.exe", nullptr), plainUrl)},
        {"over FTP", entry(signedBy("1.10", "Quillmere.exe", nullptr), "ftp" + url.substr(5))},
        {"one good, one unsigned",
         SignedEntry(url, next, "1.10", "Quillmere.exe") + "<url name=\"Tool.dll\">" + url + "</url>"},
        {"started through a shell link",
         SignedEntry(url, next, "1.10", "Quillmere.exe") + SignedEntry(url, "link", "1.10", "Start.lnk") +
             "<execute>Start.lnk</execute>"},
        {"the program is not among the files", SignedEntry(url, "text", "1.10", "Readme.txt")},
        {"one target twice",
         SignedEntry(url, next, "1.10", "Quillmere.exe") + SignedEntry(url, next, "1.10", "quillmere.EXE")},
        {"two installers",
         SignedEntry(url + "?f=a.exe", "a", "1.10") + SignedEntry(url + "?f=b.exe", "b", "1.10")},
        {"no files", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DirectoryState before = StateOf(scene.Program());
        EXPECT_EQ(-1, scene.Install("<update><version>1.10</version><files>" + c.files +
                                    "</files></update>"));
        EXPECT_TRUE(StateOf(scene.Program()) == before);
    }
    EXPECT_EQ(0u, server.RequestCount());
    // The same entry signed as the maker signs it is fetched and installed.
    server.Script(HttpAnswer(200, next));
    EXPECT_EQ(1, scene.Install("<update><version>1.10</version><files>" +
                               entry(signedBy("1.10", "Quillmere.exe", nullptr), url) +
                               "</files></update>"));
    EXPECT_EQ(1u, server.RequestCount());
    EXPECT_EQ(next, ReadBytes(scene.Program() + L"\\Quillmere.exe"));
}

// An installer needs a folder of the user's to land in: without one (the
// desktop's path could not be read) the update is not offered, rather than
// sending the installer to the current directory.
TEST(UpdateFiles, AnInstallerWithoutADesktopIsNotOffered)
{
    std::string answer = "<update><version>1.10</version><files>" +
                         SignedEntry("https://127.0.0.1/get.php?file=setup.exe", "an installer", "1.10") +
                         "</files></update>";
    XmlDocument document;
    std::wstring wide(answer.begin(), answer.end());
    ASSERT_TRUE(document.Open(XmlNoValidation | XmlNoExternals) && document.LoadText(wide.c_str()));
    HttpClient http;
    for (const wchar_t* desktop : {L"", L"C:\\Users\\someone\\Desktop"}) {
        SCOPED_TRACE(desktop);
        UpdateFiles files(http, L"C:\\program", desktop);
        ASSERT_EQ(1, files.Read(document, nullptr));
        EXPECT_EQ(*desktop ? 1 : 0,
                  files.Check(L"1.10", L"Quillmere.exe", UpdatePublicKeys, UpdatePublicKeyCount));
    }
}

// Redirects are followed by the client itself, each Location checked
// before a request goes out: one to plain HTTP sends nothing anywhere,
// one that stays on TLS is followed.
TEST(UpdateFiles, ARedirectToPlainHttpSendsNothingThereAndOneOverTlsIsFollowed)
{
    LoopbackServer plain;
    plain.Script(HttpAnswer(200, "from plain http"));
    for (bool staysSecure : {false, true}) {
        SCOPED_TRACE(staysSecure ? "https to https" : "https to http");
        UpdateScene scene;
        scene.SignArchive();
        LoopbackServer server;
        std::string target = staysSecure ? HttpsUrl(server, "/files/good.zip")
                                         : "http://127.0.0.1:" + std::to_string(plain.Port()) +
                                               "/files/good.zip";
        server.Script(HttpAnswer(302, "moved", "Location: " + target + "\r\n"));
        scene.ServeAll(server);
        DirectoryState before = StateOf(scene.Program());
        EXPECT_EQ(staysSecure ? 1 : 0, scene.Install(scene.Answer(server)));
        if (staysSecure)
            EXPECT_EQ(scene.Next(), ReadBytes(scene.Program() + L"\\Quillmere.exe"));
        else
            EXPECT_TRUE(StateOf(scene.Program()) == before);
    }
    EXPECT_EQ(0u, plain.RequestCount()) << "nothing of the request went out in the clear";
}

// Every step made to fail in turn: each time the directory holds exactly
// what it held before, with a program that runs, and the desktop is as the
// user left it.
TEST(UpdateFiles, EveryFailureLeavesTheOriginalRunnableProgram)
{
    const std::string cut = HttpHead(200, "Content-Length: 100000\r\n");
    struct Case {
        const char* what;
        // Prepares the scene and the server for the case.
        std::function<void(UpdateScene&, LoopbackServer&)> serve;
        const wchar_t* lockStep; // the step at which `lockName` is held, or none
        const wchar_t* lockName;
        bool appears;            // `lockName` appears instead, and must stay
    };
    auto serveAll = [](UpdateScene& scene, LoopbackServer& server) {
        scene.SignArchive();
        scene.ServeAll(server);
    };
    auto withArchive = [](std::vector<ZipMember> members) {
        return [members](UpdateScene& scene, LoopbackServer& server) {
            scene.archive = BuildZip(members);
            scene.SignArchive();
            scene.ServeAll(server);
        };
    };
    std::vector<Case> cases = {
        {"archive download answered 404",
         [](UpdateScene& scene, LoopbackServer& server) {
             scene.SignArchive();
             server.Script(HttpAnswer(404, "gone"));
         }},
        {"archive download cut short",
         [&](UpdateScene& scene, LoopbackServer& server) {
             scene.SignArchive();
             server.Script(LoopbackReply().Send(cut + scene.archive.substr(0, 5000)));
         }},
        {"archive other than the one signed",
         [](UpdateScene& scene, LoopbackServer& server) {
             scene.SignArchive();
             scene.archive = BuildZip({{"Quillmere.exe", scene.Next()}, {"Evil.dll", "x"}});
             scene.ServeAll(server);
         }},
        {"readme other than the one signed",
         [](UpdateScene& scene, LoopbackServer& server) {
             scene.SignArchive();
             scene.readme = "a readme someone changed";
             scene.ServeAll(server);
         }},
        {"installer download answered 404",
         [](UpdateScene& scene, LoopbackServer& server) {
             scene.SignArchive();
             server.Script(HttpAnswer(200, scene.archive));
             server.Script(HttpAnswer(200, scene.readme));
             server.Script(HttpAnswer(200, scene.tool));
             server.Script(HttpAnswer(404, "gone"));
         }},
        {"a program of the offered version's name but another version",
         withArchive({{"Quillmere.exe", ReadBytes(TestDirectory() + L"updatehost.exe")}})},
        {"archive member leaves the directory",
         withArchive({{"Quillmere.exe", "not run"}, {"../evil.txt", "outside"}})},
        {"archive without the program", withArchive({{"License.txt", "new license"}})},
        {"program locked while it is backed up", serveAll, L"rename Quillmere.exe",
         L"Quillmere.exe"},
        {"readme locked after the program was swapped", serveAll, L"rename Readme.txt",
         L"Readme.txt"},
        {"license locked while the archive replaces it", serveAll, L"rename License.txt",
         L"License.txt"},
        {"another program's library appears before the last step", serveAll, L"rename Tool.dll",
         L"Tool.dll", true},
    };

    int held = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateScene scene;
        DirectoryState before = StateOf(scene.Program());
        DirectoryState desktopBefore = StateOf(scene.Desktop());
        LoopbackServer server;
        c.serve(scene, server);
        std::wstring lockPath = c.lockName ? scene.Program() + L"\\" + c.lockName : L"";
        {
            StepLock lock(c.lockStep ? c.lockStep : L"", lockPath, c.appears);
            EXPECT_EQ(0, scene.Install(scene.Answer(server)));
            EXPECT_EQ(c.lockStep != nullptr, lock.Taken());
        }
        if (c.appears)
            before[c.lockName] = "another program's";
        DirectoryState after = StateOf(scene.Program());
        bool same = after == before && StateOf(scene.Desktop()) == desktopBefore;
        EXPECT_TRUE(same) << NamesOf(after);
        std::string ran = RunPlainly(scene.Program());
        EXPECT_EQ("1.9\r\n", ran);
        if (same && ran == "1.9\r\n")
            ++held;
    }
    printf("fault injection: %d of %d failures left the original, runnable program\n", held,
           (int)cases.size());
    EXPECT_EQ((int)cases.size(), held);
}
