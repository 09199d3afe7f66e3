#include "UpdateManager/InstallerFileName.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using Veltora::UpdateManager::installerFileName;

namespace
{

class InstallerFileName : public ::testing::TestWithParam<std::pair<std::string, std::string>>
{
};

TEST_P(InstallerFileName, IsThePlainNameAtTheEndOfTheAddressOrNothing)
{
    EXPECT_EQ(installerFileName(GetParam().first), GetParam().second);
}

// A NUL byte (a JSON answer may carry one as \u0000) would cut the name where the system
// reads it, making the installer and its confirm file one file.
INSTANTIATE_TEST_SUITE_P(
    Addresses, InstallerFileName,
    ::testing::Values(
        std::pair<std::string, std::string>{"http://h/files/PRD/setup.exe", "setup.exe"},
        std::pair<std::string, std::string>{"setup.exe", "setup.exe"},
        std::pair<std::string, std::string>{"http://h/a.exe?x=1", "a.exe?x=1"},
        std::pair<std::string, std::string>{"http://h/files/", ""},
        std::pair<std::string, std::string>{"http://h/.", ""},
        std::pair<std::string, std::string>{"http://h/..", ""},
        std::pair<std::string, std::string>{"http://h/a\\..\\b.exe", ""},
        std::pair<std::string, std::string>{std::string("http://h/set\0up.exe", 19), ""},
        std::pair<std::string, std::string>{"", ""}),
    [](const auto& testCase) { return "Address" + std::to_string(testCase.index); });

} // namespace
