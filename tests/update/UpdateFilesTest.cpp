#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "UpdateTestSupport.h"
#include "ZipBuilder.h"
#include "common/LoopbackServer.h"
#include "common/ScratchFile.h"
#include "common/TempDirectory.h"
#include "services/FileHash.h"
#include "update/UpdateFiles.h"

namespace {

std::string Sha256Of(const std::string& bytes)
{
    ScratchFile scratch;
    scratch.Write(bytes);
    WideString hex;
    FileSha256(scratch.Path(), hex);
    return std::string(hex.Text(), hex.Text() + hex.Length());
}

// Runs the program without arguments, as a restart does, and gives back the
// version it noted ("" when it did not run).
std::string RunProgram(const std::wstring& directory)
{
    std::wstring program = directory + L"\\Quillmere.exe";
    std::wstring marker = directory + L"\\restarted.txt";
    DeleteFileW(marker.c_str());
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    std::wstring command = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.c_str(), &startup, &process))
        return "";
    WaitForSingleObject(process.hProcess, 120000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string noted = ReadBytes(marker);
    DeleteFileW(marker.c_str());
    return noted;
}

// An update of three program files and an installer: the program arrives in
// an archive with a license and a guide, the readme (with its digest) and a
// new library as plain files.
class UpdateScene {
public:
    UpdateScene() : root_(L"swap")
    {
        program_ = std::wstring(root_.Path()) + L"\\program";
        installers_ = std::wstring(root_.Path()) + L"\\desktop";
        CreateDirectoryW(program_.c_str(), nullptr);
        CreateDirectoryW(installers_.c_str(), nullptr);
        host_ = ReadBytes(TestDirectory() + L"updatehost.exe");
        next_ = ReadBytes(TestDirectory() + L"updatehost_next.exe");
        WriteBytes(program_ + L"\\Quillmere.exe", host_);
        WriteBytes(program_ + L"\\Quillmere_old.exe", "left by an earlier update");
        WriteBytes(program_ + L"\\License.txt", "old license");
        WriteBytes(program_ + L"\\Readme.txt", "old readme");
        archive_ = BuildZip({{"Quillmere.exe", next_},
                             {"License.txt", "new license"},
                             {"Help/Guide.txt", "new guide", false}});
    }

    const std::wstring& Program() const { return program_; }
    const std::wstring& Installers() const { return installers_; }
    const std::string& Host() const { return host_; }
    const std::string& Next() const { return next_; }
    std::string& Archive() { return archive_; }
    std::string readme = "new readme";
    std::string readmeDigest = Sha256Of("new readme");

    // The four answers in the order the downloads ask for them.
    void ServeAll(LoopbackServer& server) const
    {
        server.Script(HttpAnswer(200, archive_));
        server.Script(HttpAnswer(200, readme));
        server.Script(HttpAnswer(200, "new tool"));
        server.Script(HttpAnswer(200, "an installer"));
    }

    std::wstring Answer(const LoopbackServer& server) const
    {
        std::wstring digest(readmeDigest.begin(), readmeDigest.end());
        return L"<update><version>1.10</version><files>"
               L"<url name=\"Quillmere.exe\" zip=\"Quillmere.zip\">" + server.Url(L"/Quillmere.zip") +
               L"</url>"
               L"<url sha256=\"" + digest + L"\">\n  " + server.Url(L"/Readme.txt") +
               L"\n  <name>Readme.txt</name></url>"
               L"<URL name=\"Tool.dll\">" + server.Url(L"/Tool.dll") + L"</URL>"
               L"<other>not a file</other>"
               L"<url>" + server.Url(L"/get.php?file=setup.exe") + L"</url>"
               L"</files></update>";
    }

    // Reads the answer and runs the three passes with `observer` watching.
    int Install(LoopbackServer& server, UpdateFiles::StepObserver observer = nullptr,
                void* data = nullptr, WideString* installer = nullptr)
    {
        XmlDocument answer;
        if (!answer.Open(XmlNoValidation | XmlNoExternals) ||
            !answer.LoadText(Answer(server).c_str()))
            return -1;
        HttpClient http;
        UpdateFiles files(http, program_.c_str(), installers_.c_str());
        if (!files.Read(answer, nullptr) || files.Count() != 4)
            return -1;
        files.Observe(observer, data);
        int result = files.Install();
        if (installer)
            installer->Assign(files.InstallerPath());
        return result;
    }

    // Nothing beside the two directories.
    bool NothingOutside() const
    {
        for (const auto& entry : StateOf(root_.Path())) {
            const std::wstring& name = entry.first;
            if (name.compare(0, 7, L"program") != 0 && name.compare(0, 7, L"desktop") != 0)
                return false;
        }
        return true;
    }

private:
    TempDirectory root_;
    std::wstring program_;
    std::wstring installers_;
    std::string host_;
    std::string next_;
    std::string archive_;
};

// Holds a file open without FILE_SHARE_DELETE from just before a step, so
// that it cannot be renamed or deleted, and lets go of it a second later, as
// a virus scanner looking at a fresh file would.
class FileLock {
public:
    FileLock(UpdatePass pass, int index, const std::wstring& path)
        : pass_(pass), index_(index), path_(path)
    {
    }
    ~FileLock()
    {
        if (releaser_.joinable())
            releaser_.join();
    }
    bool Taken() const { return taken_; }

    static void BeforeStep(UpdatePass pass, int index, const UpdateFile&, void* data)
    {
        FileLock* lock = (FileLock*)data;
        if (lock->pass_ == pass && lock->index_ == index && !lock->taken_)
            lock->Take();
    }

private:
    void Take()
    {
        HANDLE handle = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return;
        taken_ = true;
        releaser_ = std::thread([handle] {
            Sleep(1000);
            CloseHandle(handle);
        });
    }

    UpdatePass pass_;
    int index_;
    std::wstring path_;
    bool taken_ = false;
    std::thread releaser_;
};

} // namespace

TEST(UpdateFiles, SwapsTheFilesAndKeepsOldCopies)
{
    UpdateScene scene;
    LoopbackServer server;
    scene.ServeAll(server);
    WideString installer;
    ASSERT_EQ(1, scene.Install(server, nullptr, nullptr, &installer));

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
    EXPECT_STREQ((scene.Installers() + L"\\setup.exe").c_str(), installer.Text());
    EXPECT_EQ("an installer", ReadBytes(installer.Text()));
    EXPECT_TRUE(scene.NothingOutside());
    EXPECT_EQ("1.10\r\n", RunProgram(scene.Program()));
    // The downloads asked for each file once, in the answer's order.
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(4u, requests.size());
    EXPECT_EQ(0u, requests[0].find("GET /Quillmere.zip "));
    EXPECT_EQ(0u, requests[3].find("GET /get.php?file=setup.exe "));
}

// Every step of every pass made to fail in turn: each time the directory
// holds exactly what it held before, with a program that runs.
TEST(UpdateFiles, EveryFailureLeavesTheOriginalRunnableProgram)
{
    const std::string cut = HttpHead(200, "Content-Length: 100000\r\n");
    struct Case {
        const char* what;
        // Prepares the server (and the archive) for the case.
        std::function<void(UpdateScene&, LoopbackServer&)> serve;
        UpdatePass lockPass;
        int lockIndex; // -1: no lock
        const wchar_t* lockName;
    };
    auto serveAll = [](UpdateScene& scene, LoopbackServer& server) { scene.ServeAll(server); };
    auto withArchive = [](std::vector<ZipMember> members) {
        return [members](UpdateScene& scene, LoopbackServer& server) {
            scene.Archive() = BuildZip(members);
            scene.ServeAll(server);
        };
    };
    std::vector<Case> cases = {
        {"archive download answered 404",
         [](UpdateScene&, LoopbackServer& server) { server.Script(HttpAnswer(404, "gone")); },
         UpdateDownloadPass, -1, nullptr},
        {"archive download cut short",
         [&](UpdateScene& scene, LoopbackServer& server) {
             server.Script(LoopbackReply().Send(cut + scene.Archive().substr(0, 5000)));
         },
         UpdateDownloadPass, -1, nullptr},
        {"readme download reset",
         [](UpdateScene& scene, LoopbackServer& server) {
             server.Script(HttpAnswer(200, scene.Archive()));
             server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 50\r\n") + "new").Reset());
         },
         UpdateDownloadPass, -1, nullptr},
        {"readme differs from its digest",
         [](UpdateScene& scene, LoopbackServer& server) {
             scene.readme = "a readme someone changed";
             scene.ServeAll(server);
         },
         UpdateDownloadPass, -1, nullptr},
        {"library download answered 500",
         [](UpdateScene& scene, LoopbackServer& server) {
             server.Script(HttpAnswer(200, scene.Archive()));
             server.Script(HttpAnswer(200, scene.readme));
             server.Script(HttpAnswer(500, "broken"));
         },
         UpdateDownloadPass, -1, nullptr},
        {"library built for another processor",
         [](UpdateScene& scene, LoopbackServer& server) {
             std::string library = scene.Next();
             DWORD pe = *(const DWORD*)(library.data() + 0x3C);
             WORD other = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
             memcpy(&library[pe + 4], &other, sizeof other);
             server.Script(HttpAnswer(200, scene.Archive()));
             server.Script(HttpAnswer(200, scene.readme));
             server.Script(HttpAnswer(200, library));
         },
         UpdateDownloadPass, -1, nullptr},
        {"library announced beyond 64 MiB",
         [](UpdateScene& scene, LoopbackServer& server) {
             server.Script(HttpAnswer(200, scene.Archive()));
             server.Script(HttpAnswer(200, scene.readme));
             server.Script(LoopbackReply().Send(HttpHead(200, "Content-Length: 67108865\r\n") +
                                                std::string(4096, 'x')));
         },
         UpdateDownloadPass, -1, nullptr},
        {"installer download closed before the head",
         [](UpdateScene& scene, LoopbackServer& server) {
             server.Script(HttpAnswer(200, scene.Archive()));
             server.Script(HttpAnswer(200, scene.readme));
             server.Script(HttpAnswer(200, "new tool"));
             server.Script(LoopbackReply());
         },
         UpdateDownloadPass, -1, nullptr},
        {"program locked while it is backed up", serveAll, UpdateBackUpPass, 0, L"Quillmere.exe"},
        {"earlier _old copy locked", serveAll, UpdateBackUpPass, 0, L"Quillmere_old.exe"},
        {"readme locked after the program was backed up", serveAll, UpdateBackUpPass, 1,
         L"Readme.txt"},
        {"archive corrupt",
         [](UpdateScene& scene, LoopbackServer& server) {
             scene.Archive()[scene.Archive().size() / 3] ^= 0x55;
             scene.ServeAll(server);
         },
         UpdateDownloadPass, -1, nullptr},
        {"archive cut short",
         [](UpdateScene& scene, LoopbackServer& server) {
             scene.Archive().resize(scene.Archive().size() - 40);
             scene.ServeAll(server);
         },
         UpdateDownloadPass, -1, nullptr},
        {"archive member leaves the directory",
         withArchive({{"Quillmere.exe", "not run"}, {"../evil.txt", "outside"}}), UpdateDownloadPass,
         -1, nullptr},
        {"archive member with a drive", withArchive({{"Quillmere.exe", "x"}, {"C:/evil.txt", "x"}}),
         UpdateDownloadPass, -1, nullptr},
        {"archive bomb", withArchive({{"Quillmere.exe", std::string(70 << 20, 'A')}}),
         UpdateDownloadPass, -1, nullptr},
        {"archive without the program", withArchive({{"License.txt", "new license"}}),
         UpdateDownloadPass, -1, nullptr},
        {"license locked while the archive replaces it", serveAll, UpdateInstallPass, 0,
         L"License.txt"},
        {"new readme locked before it takes its place", serveAll, UpdateInstallPass, 1,
         L"Readme_new.txt"},
        {"new library locked at the very last step", serveAll, UpdateInstallPass, 2,
         L"Tool_new.dll"},
    };

    int held = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateScene scene;
        DirectoryState before = StateOf(scene.Program());
        DirectoryState installersBefore = StateOf(scene.Installers());
        LoopbackServer server;
        c.serve(scene, server);
        {
            FileLock lock(c.lockPass, c.lockIndex,
                          c.lockName ? scene.Program() + L"\\" + c.lockName : std::wstring());
            EXPECT_EQ(0, scene.Install(server, &FileLock::BeforeStep, &lock));
            EXPECT_EQ(c.lockIndex >= 0, lock.Taken());
        }
        DirectoryState after = StateOf(scene.Program());
        bool same = after == before && StateOf(scene.Installers()) == installersBefore &&
                    scene.NothingOutside();
        EXPECT_TRUE(same) << NamesOf(after);
        std::string ran = RunProgram(scene.Program());
        EXPECT_EQ("1.9\r\n", ran);
        if (same && ran == "1.9\r\n")
            ++held;
    }
    printf("fault injection: %d of %d failures left the original, runnable program\n", held,
           (int)cases.size());
    EXPECT_EQ((int)cases.size(), held);
}
