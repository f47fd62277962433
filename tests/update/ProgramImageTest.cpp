#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "ZipBuilder.h"
#include "common/TempDirectory.h"
#include "update/ArchiveInstall.h"
#include "update/ProgramImage.h"

namespace {

// This test program's own image with its machine type set to `machine`.
std::string OwnImageFor(WORD machine)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string image = ReadBytes(path);
    DWORD pe = *(const DWORD*)(image.data() + 0x3C);
    memcpy(&image[pe + 4], &machine, sizeof machine);
    return image;
}

WORD OtherMachine()
{
    return ThisProcessorMachine() == IMAGE_FILE_MACHINE_AMD64 ? IMAGE_FILE_MACHINE_I386
                                                              : IMAGE_FILE_MACHINE_AMD64;
}

} // namespace

TEST(ProgramImage, ReadsTheMachineOnlyOfWellFormedHeaders)
{
    TempDirectory folder(L"image");
    std::wstring file = std::wstring(folder.Path()) + L"\\file";
    WORD machine = 0;
    ASSERT_TRUE(WriteBytes(file, OwnImageFor(IMAGE_FILE_MACHINE_ARM64)));
    ASSERT_EQ(1, ImageMachine(file.c_str(), &machine));
    EXPECT_EQ(IMAGE_FILE_MACHINE_ARM64, machine);
    EXPECT_EQ(0, FitsThisProcessor(file.c_str()));

    // Texts, short files and headers pointing anywhere are no images, and
    // such files may be installed.
    std::string header = OwnImageFor(ThisProcessorMachine()).substr(0, 4096);
    std::string pointingFar = header;
    pointingFar[0x3D] = (char)0x7F;
    std::string pointingToTheEnd = header;
    DWORD last = 4096 - 5;
    memcpy(&pointingToTheEnd[0x3C], &last, 4);
    for (const std::string& bytes : {std::string("MZ"), std::string("readme"), std::string(),
                                     pointingFar, pointingToTheEnd}) {
        ASSERT_TRUE(WriteBytes(file, bytes));
        EXPECT_EQ(0, ImageMachine(file.c_str(), &machine)) << bytes.size();
        EXPECT_EQ(1, FitsThisProcessor(file.c_str()));
    }
    EXPECT_EQ(0, ImageMachine((file + L".missing").c_str(), &machine));
}

TEST(ProgramImage, AnArchiveWithAProgramForAnotherProcessorInstallsNothing)
{
    TempDirectory folder(L"image-archive");
    std::wstring program = std::wstring(folder.Path()) + L"\\program";
    std::wstring archive = std::wstring(folder.Path()) + L"\\update.zip";
    CreateDirectoryW(program.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(program + L"\\Quillmere.exe", "the running program"));
    DirectoryState before = StateOf(program);

    for (WORD machine : {OtherMachine(), ThisProcessorMachine()}) {
        SCOPED_TRACE(machine);
        std::string image = OwnImageFor(machine);
        ASSERT_TRUE(WriteBytes(archive, BuildZip({{"Readme.txt", "notes"},
                                                  {"Quillmere.exe", image}})));
        FileJournal journal;
        int installed = InstallArchive(archive, program, journal);
        if (machine != ThisProcessorMachine()) {
            EXPECT_EQ(0, installed);
            EXPECT_EQ(1, journal.Rollback());
            EXPECT_TRUE(StateOf(program) == before) << NamesOf(StateOf(program));
            continue;
        }
        ASSERT_EQ(1, installed);
        ASSERT_EQ(1, journal.Finish());
        EXPECT_EQ(image, ReadBytes(program + L"\\Quillmere.exe"));
    }
}
