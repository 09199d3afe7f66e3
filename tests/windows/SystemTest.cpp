#include "platform/Platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace Veltora::Platform;

namespace
{
// The version the system reports to this program (the same figures the version test uses:
// without a compatibility manifest Windows 8.1 and later report 6.2).
OSVERSIONINFOEXW reportedVersion()
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    return version;
}

class OsVersion : public testing::Test
{
protected:
    ~OsVersion() override { clearOsVersionOverrideForTesting(); }
};
} // namespace

// Major first, then minor, then service pack: a higher level decides regardless of the
// lower ones.
TEST_F(OsVersion, ComparesMajorThenMinorThenServicePack)
{
    const OSVERSIONINFOEXW running = reportedVersion();
    const unsigned major = running.dwMajorVersion;
    const unsigned minor = running.dwMinorVersion;
    const unsigned servicePack = running.wServicePackMajor;
    ASSERT_GE(major, 5u);
    struct Case
    {
        unsigned major, minor, servicePack;
        bool expected;
    } cases[] = {
        {major, minor, servicePack, true},
        {major, minor, 0, true},
        {major, minor, servicePack + 1, false},
        {major, minor + 1, 0, false},
        {major + 1, 0, 0, false},
        {major - 1, 99, 99, true},
        {0, 0, 0, true},
    };
    for (const Case& test : cases)
    {
        SCOPED_TRACE(std::to_string(test.major) + "." + std::to_string(test.minor) + "." +
                     std::to_string(test.servicePack));
        EXPECT_EQ(isOsVersionAtLeast(test.major, test.minor, test.servicePack), test.expected);
    }
}

TEST_F(OsVersion, TestOverrideReplacesTheRunningVersionUntilCleared)
{
    overrideOsVersionForTesting(6, 1, 1);
    EXPECT_TRUE(isOsVersionAtLeast(6, 1, 0));
    EXPECT_TRUE(isOsVersionAtLeast(6, 1, 1));
    EXPECT_FALSE(isOsVersionAtLeast(6, 1, 2));
    EXPECT_FALSE(isOsVersionAtLeast(6, 2, 0));
    EXPECT_TRUE(isOsVersionAtLeast(5, 9, 9));
    EXPECT_EQ(osVersionText(), "6.1.1");
    overrideOsVersionForTesting(100, 0, 0);
    EXPECT_TRUE(isOsVersionAtLeast(99, 0, 0));
    clearOsVersionOverrideForTesting();
    EXPECT_FALSE(isOsVersionAtLeast(99, 0, 0));
    EXPECT_NE(osVersionText(), "100.0.0");
}

// What the failure line names: the real version, major.minor.build, as RtlGetVersion tells.
TEST_F(OsVersion, TextIsTheRunningVersion)
{
    EXPECT_STREQ(osName(), "Windows");
    const std::string text = osVersionText();
    ASSERT_EQ(std::count(text.begin(), text.end(), '.'), 2) << text;
    EXPECT_EQ(text.find_first_not_of("0123456789."), std::string::npos) << text;
    EXPECT_NE(text.front(), '0') << text;
}

TEST(PlatformWord, IsWindows)
{
    EXPECT_STREQ(platformWord(), "windows");
}

TEST(SystemClock, CountsHundredNanosecondTicksSince1970)
{
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t ticks = systemTimeTicks();
    const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_GE(ticks / 10000000, before - 1);
    EXPECT_LE(ticks / 10000000, after + 1);
}

TEST(ThreadId, EachThreadHasItsOwnStableId)
{
    const std::uint64_t self = currentThreadId();
    EXPECT_EQ(currentThreadId(), self);
    std::set<std::uint64_t> ids{self};
    std::vector<std::thread> threads;
    std::vector<std::uint64_t> seen(4);
    for (std::size_t index = 0; index < seen.size(); ++index)
        threads.emplace_back([&seen, index] { seen[index] = currentThreadId(); });
    for (std::thread& thread : threads)
        thread.join();
    ids.insert(seen.begin(), seen.end());
    EXPECT_EQ(ids.size(), 1 + seen.size());
    EXPECT_EQ(ids.count(0), 0u);
}

TEST(ModulePath, NamesThisProgramWithAFullPath)
{
    const std::string path = modulePath();
    ASSERT_GT(path.size(), 3u);
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(path[0])));
    EXPECT_EQ(path.substr(1, 2), ":\\");
    const std::string name = "\\platform_windows_tests.exe";
    ASSERT_GE(path.size(), name.size());
    EXPECT_EQ(path.substr(path.size() - name.size()), name);
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}
