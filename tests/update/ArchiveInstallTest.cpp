#include <gtest/gtest.h>

#include <random>

#include "UpdateTestSupport.h"
#include "ZipBuilder.h"
#include "common/TempDirectory.h"
#include "update/ArchiveInstall.h"
#include "update/ZipArchive.h"

namespace {

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char)((i * 31 + seed * 7 + i / 97) & 0xFF);
    return bytes;
}

// A program directory inside a sandbox; nothing may appear beside it.
class Sandbox {
public:
    Sandbox() : root_(L"archive")
    {
        program_ = std::wstring(root_.Path()) + L"\\program";
        CreateDirectoryW(program_.c_str(), nullptr);
        CreateDirectoryW((program_ + L"\\docs").c_str(), nullptr);
        WriteBytes(program_ + L"\\Quillmere.exe", "the old program");
        WriteBytes(program_ + L"\\docs\\guide.txt", "the old guide");
        WriteBytes(program_ + L"\\keep.txt", "untouched");
    }
    const std::wstring& Program() const { return program_; }
    std::wstring Archive() const { return std::wstring(root_.Path()) + L"\\update.zip"; }
    // Writes `bytes` as the archive and installs it; the journal is kept for
    // the caller to commit or roll back.
    int Install(const std::string& bytes, FileJournal& journal) const
    {
        WriteBytes(Archive(), bytes);
        return InstallArchive(Archive(), program_, journal);
    }
    // Only the program directory and the archive, whatever happened.
    bool NothingOutside() const
    {
        DirectoryState all = StateOf(root_.Path());
        for (const auto& entry : all) {
            const std::wstring& name = entry.first;
            if (name != L"update.zip" && name != L"program" && name.compare(0, 8, L"program\\") != 0)
                return false;
        }
        return true;
    }

private:
    TempDirectory root_;
    std::wstring program_;
};

} // namespace

TEST(ArchiveInstall, RestoresStoredPathsAndReplacesFilesWithoutAsking)
{
    Sandbox sandbox;
    DirectoryState before = StateOf(sandbox.Program());
    std::string program = Pattern(300000, 1);
    std::vector<ZipMember> members = {
        {"Quillmere.exe", program},
        {"docs/guide.txt", "the new guide", false},
        {"docs/new/deep.txt", Pattern(5000, 2)},
        {"empty/", "", false},
        {"zero.txt", "", false},
        {"Gr\xC3\xBC\xC3\x9F" "e.txt", "utf-8 name"},
        {"\x81" "ber.txt", "code page 437 name"},
    };
    members[5].utf8Name = true;
    FileJournal journal;
    ASSERT_EQ(1, sandbox.Install(BuildZip(members), journal));
    ASSERT_EQ(1, journal.Finish());

    DirectoryState after = StateOf(sandbox.Program());
    DirectoryState expected = {
        {L"Quillmere.exe", program},
        {L"docs", "<dir>"},
        {L"docs\\guide.txt", "the new guide"},
        {L"docs\\new", "<dir>"},
        {L"docs\\new\\deep.txt", Pattern(5000, 2)},
        {L"empty", "<dir>"},
        {L"zero.txt", ""},
        {L"Gr\x00FC\x00DF" L"e.txt", "utf-8 name"},
        {L"\x00FC" L"ber.txt", "code page 437 name"},
        {L"keep.txt", "untouched"},
    };
    EXPECT_TRUE(after == expected) << NamesOf(after);
    EXPECT_TRUE(sandbox.NothingOutside());

    // Undone, the same installation leaves the directory as it was.
    Sandbox again;
    FileJournal undo;
    ASSERT_EQ(1, again.Install(BuildZip(members), undo));
    EXPECT_EQ(1, undo.Rollback());
    EXPECT_TRUE(StateOf(again.Program()) == before) << NamesOf(StateOf(again.Program()));
}

TEST(ArchiveInstall, RefusesHostileArchivesAndChangesNothing)
{
    const unsigned long long MiB = 1024 * 1024;
    std::string good = "a good member comes first";
    auto one = [&](const std::string& name) {
        return std::vector<ZipMember>{{"Quillmere.exe", good}, {name, "evil"}};
    };
    struct Case {
        const char* what;
        std::vector<ZipMember> members;
    };
    std::vector<Case> cases = {
        {"parent directory", one("../evil.txt")},
        {"parent directory after a folder", one("docs/../../evil.txt")},
        {"backslash parents", one("docs\\..\\..\\evil.txt")},
        {"absolute", one("/evil.txt")},
        {"absolute with a backslash", one("\\evil.txt")},
        {"drive letter", one("C:/evil.txt")},
        {"drive-relative", one("C:evil.txt")},
        {"alternate stream", one("keep.txt:stream")},
        {"device name", one("CON")},
        {"device name with an extension", one("docs/aux.txt")},
        {"trailing dot", one("Quillmere.exe.")},
        {"wildcard", one("a*b")},
        {"control character", one("a\x01z")},
        {"same name twice", {{"Quillmere.exe", good}, {"Quillmere.exe", "second"}}},
        {"same name in another case", {{"docs/Guide.txt", good}, {"DOCS/guide.TXT", "second"}}},
        {"a file where a folder goes", {{"x", good}, {"x/y", "below a file"}}},
        {"a file where a folder is", one("docs")},
    };
    ZipMember big{"big.bin", "small"};
    big.declaredSize = (long long)(64 * MiB + 1);
    big.deflate = true;
    cases.push_back({"declared size beyond 64 MiB", {{"Quillmere.exe", good}, big}});
    std::vector<ZipMember> many;
    for (int i = 0; i < 5; ++i) {
        ZipMember part{"part" + std::to_string(i), "tiny"};
        part.declaredSize = (long long)(60 * MiB);
        many.push_back(part);
    }
    cases.push_back({"declared total beyond 256 MiB", many});
    ZipMember longer{"liar.txt", Pattern(1000, 3)};
    longer.declaredSize = 10;
    cases.push_back({"inflates beyond its size", {{"Quillmere.exe", good}, longer}});
    ZipMember shorter{"liar.txt", Pattern(1000, 3)};
    shorter.declaredSize = 2000;
    cases.push_back({"inflates short of its size", {{"Quillmere.exe", good}, shorter}});
    ZipMember crc{"liar.txt", Pattern(1000, 3)};
    crc.crc = 0x12345678;
    cases.push_back({"wrong CRC-32", {{"Quillmere.exe", good}, crc}});
    ZipMember storedLie{"liar.txt", Pattern(1000, 3), false};
    storedLie.declaredSize = 500;
    cases.push_back({"stored sizes that differ", {{"Quillmere.exe", good}, storedLie}});
    ZipMember bzip{"method.txt", "data", false};
    bzip.method = 12;
    cases.push_back({"unknown method", {{"Quillmere.exe", good}, bzip}});
    ZipMember encrypted{"secret.txt", "data"};
    encrypted.flags = 1;
    cases.push_back({"encrypted", {{"Quillmere.exe", good}, encrypted}});
    ZipMember bomb{"bomb.bin", std::string(70 * MiB, '\0')};
    cases.push_back({"bomb declared honestly", {bomb}});
    bomb.declaredSize = 4096;
    cases.push_back({"bomb declared small", {{"Quillmere.exe", good}, bomb}});
    std::vector<ZipMember> tooMany(10001, ZipMember{"", "", false});
    for (size_t i = 0; i < tooMany.size(); ++i)
        tooMany[i].name = "f" + std::to_string(i);
    cases.push_back({"more than 10000 members", tooMany});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox sandbox;
        DirectoryState before = StateOf(sandbox.Program());
        FileJournal journal;
        EXPECT_EQ(0, sandbox.Install(BuildZip(c.members), journal));
        EXPECT_EQ(1, journal.Rollback());
        EXPECT_TRUE(StateOf(sandbox.Program()) == before) << NamesOf(StateOf(sandbox.Program()));
        EXPECT_TRUE(sandbox.NothingOutside());
    }

    // Cut anywhere, an archive is refused; the end record is what is missing.
    std::string whole = BuildZip({{"Quillmere.exe", Pattern(20000, 4)}, {"docs/a.txt", "a"}});
    for (size_t cut : {(size_t)0, (size_t)10, whole.size() / 2, whole.size() - 30, whole.size() - 1}) {
        SCOPED_TRACE(cut);
        Sandbox sandbox;
        DirectoryState before = StateOf(sandbox.Program());
        FileJournal journal;
        EXPECT_EQ(0, sandbox.Install(whole.substr(0, cut), journal));
        EXPECT_EQ(1, journal.Rollback());
        EXPECT_TRUE(StateOf(sandbox.Program()) == before);
    }
}

// Random damage to a good archive: whatever the reader accepts, it never
// writes more than a member declares, and an accepted member is exactly its
// declared size; installations that fail leave the directory as it was.
TEST(ArchiveInstall, RandomDamageNeverWritesBeyondTheDeclaredSizes)
{
    // Every other ten rounds damage the same archive written with ZIP64 records.
    std::vector<ZipMember> members = {{"Quillmere.exe", Pattern(40000, 5)},
                                      {"docs/guide.txt", "the guide", false},
                                      {"docs/sub/x.txt", Pattern(3000, 6)}};
    const std::string originals[] = {BuildZip(members), BuildZip(members, "", true)};
    Sandbox sandbox;
    DirectoryState before = StateOf(sandbox.Program());
    std::wstring output = sandbox.Archive() + L".out";
    std::mt19937 random(20240611);
    int opened = 0, extracted = 0, installed = 0, refused = 0;
    const int Cases = 3000;
    for (int round = 0; round < Cases; ++round) {
        std::string bytes = originals[(round / 10) % 2];
        switch (random() % 4) {
        case 0: // a few flipped bytes
            for (int n = 1 + (int)(random() % 8); n > 0; --n)
                bytes[random() % bytes.size()] ^= (char)(1 + random() % 255);
            break;
        case 1: // cut short
            bytes.resize(random() % bytes.size());
            break;
        case 2: { // a 32-bit field set to an extreme
            size_t at = random() % (bytes.size() - 4);
            static const uint32_t Extremes[] = {0, 0xFFFFFFFF, 0x7FFFFFFF, 0x10000, 1};
            uint32_t value = random() % 2 ? Extremes[random() % 5] : (uint32_t)random();
            memcpy(&bytes[at], &value, 4);
            break;
        }
        default: // garbage put in
            bytes.insert(random() % bytes.size(), std::string(1 + random() % 64, (char)random()));
            break;
        }
        WriteBytes(sandbox.Archive(), bytes);
        ZipArchive zip;
        if (zip.Open(sandbox.Archive().c_str())) {
            ++opened;
            for (int i = 0; i < zip.Count(); ++i) {
                HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr,
                                          CREATE_ALWAYS, 0, nullptr);
                ASSERT_NE(INVALID_HANDLE_VALUE, file);
                int ok = zip.Extract(i, file);
                LARGE_INTEGER size;
                GetFileSizeEx(file, &size);
                CloseHandle(file);
                ASSERT_LE((unsigned long long)size.QuadPart, (unsigned long long)zip.Entry(i).size);
                ASSERT_LE((unsigned long long)size.QuadPart, ZipLimits().entryBytes);
                if (ok) {
                    ++extracted;
                    ASSERT_EQ((unsigned long long)zip.Entry(i).size, (unsigned long long)size.QuadPart);
                }
            }
        }
        zip.Close();
        // Every tenth damaged archive also goes through a whole installation.
        if (round % 10 == 0) {
            FileJournal journal;
            if (InstallArchive(sandbox.Archive(), sandbox.Program(), journal)) {
                ++installed;
            } else {
                ++refused;
            }
            ASSERT_EQ(1, journal.Rollback());
            ASSERT_TRUE(StateOf(sandbox.Program()) == before) << round;
        }
    }
    DeleteFileW(output.c_str());
    EXPECT_TRUE(sandbox.NothingOutside());
    EXPECT_GT(opened, 0);
    printf("random damage: %d archives, %d opened, %d members extracted; %d installed, %d refused\n",
           Cases, opened, extracted, installed, refused);
}

TEST(ArchiveInstall, ThousandsOfMembersAreInstalledAndUndone)
{
    Sandbox sandbox;
    DirectoryState before = StateOf(sandbox.Program());
    std::vector<ZipMember> members;
    for (int i = 0; i < 3000; ++i)
        members.push_back({"d" + std::to_string(i % 30) + "/f" + std::to_string(i) + ".txt",
                           std::to_string(i), i % 2 == 0});
    FileJournal journal;
    ASSERT_EQ(1, sandbox.Install(BuildZip(members), journal));
    DirectoryState after = StateOf(sandbox.Program());
    after.erase(L"Quillmere.journal");
    EXPECT_EQ(before.size() + 3000 + 30, after.size());
    EXPECT_EQ("2999", after[L"d29\\f2999.txt"]);
    EXPECT_EQ(1, journal.Rollback());
    EXPECT_TRUE(StateOf(sandbox.Program()) == before);
}

// Archives with ZIP64 records (the members' extra fields, the ZIP64 end
// record and its locator), as Info-ZIP's "zip -fz", Python's zipfile and
// others write them even for small files, install like any other; their
// figures meet the same limits and checks.
TEST(ArchiveInstall, Zip64RecordsAreReadAsTheFormatDefinesThem)
{
    std::string program = Pattern(70000, 7);
    std::vector<ZipMember> members = {{"Quillmere.exe", program},
                                      {"docs/guide.txt", "the new guide", false},
                                      {"docs/new/", "", false}};
    struct Made {
        const char* by;
        std::string archive;
        DirectoryState expected;
    } made[] = {
        {"this test, every record ZIP64", BuildZip(members, "", true),
         {{L"Quillmere.exe", program},
          {L"docs", "<dir>"},
          {L"docs\\guide.txt", "the new guide"},
          {L"docs\\new", "<dir>"},
          {L"keep.txt", "untouched"}}},
        {"Info-ZIP zip -fz", ReadBytes(TestDirectory() + L"infozip-zip64.zip"),
         {{L"Quillmere.exe", "the program, packed by Info-ZIP with ZIP64 records\n"},
          {L"docs", "<dir>"},
          {L"docs\\guide.txt", "the guide\n"},
          {L"keep.txt", "untouched"}}},
        {"Python zipfile, force_zip64", ReadBytes(TestDirectory() + L"python-zip64.zip"),
         {{L"Quillmere.exe", "the program, packed by Python with ZIP64 records\n"},
          {L"docs", "<dir>"},
          {L"docs\\guide.txt", "the guide\n"},
          {L"keep.txt", "untouched"}}},
    };
    for (const Made& archive : made) {
        SCOPED_TRACE(archive.by);
        ASSERT_FALSE(archive.archive.empty());
        Sandbox sandbox;
        FileJournal journal;
        ASSERT_EQ(1, sandbox.Install(archive.archive, journal));
        ASSERT_EQ(1, journal.Finish());
        EXPECT_TRUE(StateOf(sandbox.Program()) == archive.expected) << NamesOf(StateOf(sandbox.Program()));
    }

    // The same lies as in plain archives, told in the ZIP64 figures.
    const unsigned long long MiB = 1024 * 1024;
    auto refused = [](const std::string& bytes) {
        Sandbox sandbox;
        DirectoryState before = StateOf(sandbox.Program());
        FileJournal journal;
        int installed = sandbox.Install(bytes, journal);
        EXPECT_EQ(1, journal.Rollback());
        EXPECT_TRUE(StateOf(sandbox.Program()) == before);
        return installed == 0;
    };
    ZipMember big{"big.bin", "small"};
    big.declaredSize = (long long)(64 * MiB + 1);
    EXPECT_TRUE(refused(BuildZip({{"Quillmere.exe", "good"}, big}, "", true)));
    ZipMember liar{"liar.txt", Pattern(1000, 3)};
    liar.declaredSize = 10;
    EXPECT_TRUE(refused(BuildZip({{"Quillmere.exe", "good"}, liar}, "", true)));
    std::string good = BuildZip(members, "", true);
    auto patchedOf = [](std::string copy, size_t at, uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            copy[at + i] = (char)((value >> (8 * i)) & 0xFF);
        return copy;
    };
    auto patched = [&](size_t at, uint64_t value, int bytes) { return patchedOf(good, at, value, bytes); };
    size_t record = good.rfind(std::string("PK\x06\x06", 4));
    size_t locator = good.rfind(std::string("PK\x06\x07", 4));
    ASSERT_NE(std::string::npos, record);
    ASSERT_NE(std::string::npos, locator);
    EXPECT_TRUE(refused(patchedOf(patched(record + 24, 4, 8), record + 32, 4, 8)))
        << "more members than the directory holds";
    EXPECT_TRUE(refused(patched(record + 48, good.size(), 8))) << "a directory beyond the file";
    EXPECT_TRUE(refused(patched(locator + 8, locator, 8))) << "a record that overlaps its locator";
    EXPECT_TRUE(refused(patched(locator + 16, 2, 4))) << "more than one disk";
    // The last member's extra field cut short of the figures it must hold.
    size_t central = good.rfind(std::string("PK\x01\x02", 4));
    EXPECT_TRUE(refused(patched(central + 30, 20, 2)));
    // The positive control: the archive itself installs.
    Sandbox sandbox;
    FileJournal journal;
    EXPECT_EQ(1, sandbox.Install(good, journal));
    EXPECT_EQ(1, journal.Rollback());
}
