#include "platform/Platform.h"
#include "tests/windows/WineTestSupport.h"

#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

using Veltora::Platform::createPrivateFile;
using Veltora::Testing::ansiPath;
using Veltora::Testing::contentOf;
using Veltora::Testing::WindowsTempFolder;
using Veltora::Testing::writeFile;

TEST(PrivateFile, HoldsTheContentAndAnAccessListForItsOwnerOnly)
{
    WindowsTempFolder folder;
    const std::filesystem::path key = folder / L"key.pem";
    std::string error;
    ASSERT_TRUE(createPrivateFile(ansiPath(key), "secret\r\n", error)) << error;
    EXPECT_EQ(contentOf(key), "secret\r\n");

    PACL accessList = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(key.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &accessList, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(accessList, nullptr);
    EXPECT_EQ(accessList->AceCount, 1);
    LocalFree(descriptor);
}

TEST(PrivateFile, RefusesAnExistingFileAndKeepsIt)
{
    WindowsTempFolder folder;
    const std::filesystem::path existing = folder / L"existing";
    writeFile(existing, "keep me");
    std::string error;
    EXPECT_FALSE(createPrivateFile(ansiPath(existing), "new", error));
    EXPECT_NE(error, "");
    EXPECT_EQ(contentOf(existing), "keep me");
}

TEST(PrivateFile, FailsWithAReasonInAMissingFolder)
{
    WindowsTempFolder folder;
    std::string error;
    EXPECT_FALSE(createPrivateFile(ansiPath(folder / L"missing" / L"key.pem"), "x", error));
    EXPECT_NE(error, "");
}

// A path with a NUL inside would name the shorter path before it; nothing is created.
TEST(PrivateFile, RefusesAPathWithANulInside)
{
    WindowsTempFolder folder;
    const std::string path = ansiPath(folder / L"key.pem") + std::string("\0.txt", 5);
    std::string error;
    EXPECT_FALSE(createPrivateFile(path, "secret", error));
    EXPECT_NE(error, "");
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}
