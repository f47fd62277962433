#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/ProgramLaunch.h"

namespace {

struct Launch {
    std::wstring verb, file, parameters, directory;
    int show;
};

std::vector<Launch> Launches;

BOOL WINAPI RecordLaunch(SHELLEXECUTEINFOW* info)
{
    Launches.push_back({info->lpVerb ? info->lpVerb : L"", info->lpFile ? info->lpFile : L"",
                        info->lpParameters ? info->lpParameters : L"",
                        info->lpDirectory ? info->lpDirectory : L"", info->nShow});
    return TRUE;
}

class ProgramLaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Launches.clear();
        UseShellExecute(RecordLaunch);
    }
    void TearDown() override { UseShellExecute(nullptr); }
};

} // namespace

TEST_F(ProgramLaunchTest, WebAddressesGoThroughTheUrlHandlerOnce)
{
    EXPECT_EQ(1, OpenUrl(L"https://www.tollbrook.example/a b?c=\"d\""));
    ASSERT_EQ(1u, Launches.size());
    EXPECT_EQ(L"open", Launches[0].verb);
    EXPECT_EQ(L"rundll32.exe", Launches[0].file);
    EXPECT_EQ(L"url.dll,FileProtocolHandler https://www.tollbrook.example/a b?c=\"d\"",
              Launches[0].parameters);
    EXPECT_EQ(SW_SHOWDEFAULT, Launches[0].show);

    EXPECT_EQ(0, OpenUrl(L""));
    EXPECT_EQ(0, OpenUrl(nullptr));
    EXPECT_EQ(1u, Launches.size()) << "an empty target opens nothing";
}

TEST_F(ProgramLaunchTest, ProgramsStartOpenOrElevated)
{
    EXPECT_EQ(1, LaunchProgram(L"C:\\q\\Quillmere.exe", nullptr, L"C:\\q\\", 0));
    EXPECT_EQ(1, LaunchProgram(L"setup.exe", L"/quiet", nullptr, 1));
    ASSERT_EQ(2u, Launches.size());
    EXPECT_EQ(L"open", Launches[0].verb);
    EXPECT_EQ(L"C:\\q\\", Launches[0].directory);
    EXPECT_EQ(L"runas", Launches[1].verb);
    EXPECT_EQ(L"/quiet", Launches[1].parameters);
}
