#include <gtest/gtest.h>

#include "services/LibraryHolder.h"

TEST(LibraryHolder, LoadsLooksUpAndReleases)
{
    LibraryHolder lib;
    EXPECT_EQ(nullptr, lib.Lookup("GetTickCount"));
    ASSERT_TRUE(lib.Load(L"kernel32.dll"));
    EXPECT_NE(nullptr, lib.Lookup("GetTickCount"));
    EXPECT_EQ(nullptr, lib.Lookup("NoSuchEntryPoint"));
    lib.Release();
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(nullptr, lib.Lookup("GetTickCount"));
}

TEST(LibraryHolder, MissingLibraryFailsQuietlyAndRestoresTheErrorMode)
{
    UINT before = SetErrorMode(0);
    SetErrorMode(before);
    LibraryHolder lib;
    ASSERT_TRUE(lib.Load(L"kernel32.dll"));
    EXPECT_FALSE(lib.Load(L"quillmere_no_such_library.dll"));
    EXPECT_FALSE(lib.IsLoaded()); // the earlier module was released first
    EXPECT_EQ(nullptr, lib.Lookup("GetTickCount"));
    UINT after = SetErrorMode(0);
    SetErrorMode(after);
    EXPECT_EQ(before, after);
}
