#include <gtest/gtest.h>

#include "properties/StatusText.h"

namespace {

std::wstring Status(ULONG status, ULONG problem)
{
    WideString value;
    StatusText::Format(status, problem, value);
    return value.Text();
}

} // namespace

TEST(StatusText, WorkedExamples)
{
    EXPECT_EQ(L"0x0180200A (DRIVER_LOADED, STARTED, DISABLEABLE, NT_ENUMERATOR, NT_DRIVER), "
              L"Problem: None",
              Status(0x0180200A, 0));
    EXPECT_EQ(L"0x01802400 (HAS_PROBLEM, DISABLEABLE, NT_ENUMERATOR, NT_DRIVER), "
              L"Problem: 0x1C (FAILED_INSTALL)",
              Status(0x01802400, 28));
}

TEST(StatusText, AllFlagsInTableOrder)
{
    EXPECT_EQ(L"0x00000000 (), Problem: None", Status(0, 0));
    std::wstring all = Status(0xFFFFFFFF, 0);
    EXPECT_EQ(0u, all.find(L"0xFFFFFFFF (ROOT_ENUMERATED, DRIVER_LOADED, ENUM_LOADED, STARTED, "));
    EXPECT_NE(std::wstring::npos, all.find(L", NOT_FIRST_TIMEE, "));
    EXPECT_NE(std::wstring::npos,
              all.find(L"BOOT_LOG_PROB, NEED_RESTART, DRIVER_BLOCKED, LEGACY_DRIVER, "
                       L"CHILD_WITH_INVALID_ID, DEVICE_DISCONNECTED, QUERY_REMOVE_PENDING, "
                       L"QUERY_REMOVE_ACTIVE), Problem: None"));
    EXPECT_EQ(std::wstring::npos, all.find(L"DN_"));
    // every bit appears exactly once
    ULONG covered = 0;
    for (int i = 0; i < StatusText::FlagCount; ++i) {
        EXPECT_EQ(0u, covered & StatusText::Flags()[i].bit);
        covered |= StatusText::Flags()[i].bit;
    }
    EXPECT_EQ(0xFFFFFFFFu, covered);
}

TEST(StatusText, ProblemOnlyWithHasProblemAndAKnownNumber)
{
    EXPECT_EQ(L"0x00000000 (), Problem: None", Status(0, 22));
    EXPECT_EQ(L"0x00000400 (HAS_PROBLEM), Problem: 0x39 (GUEST_ASSIGNMENT_FAILED)",
              Status(0x400, 57));
    EXPECT_EQ(L"0x00000400 (HAS_PROBLEM), Problem: None", Status(0x400, 58));
    EXPECT_EQ(L"0x00000400 (HAS_PROBLEM), Problem: None", Status(0x400, 0));
    EXPECT_EQ(L"0x00000400 (HAS_PROBLEM), Problem: 0xA (FAILED_START)", Status(0x400, 10));
    EXPECT_EQ(L"0x00000400 (HAS_PROBLEM), Problem: 0x1 (NOT_CONFIGURED)", Status(0x400, 1));
}
