// The running system's name and version as the failure line names them.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>

using namespace Veltora::Platform;

TEST(OsVersionText, IsTheKernelReleaseOrTheTestOverride)
{
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_STREQ(osName(), "Linux");
    EXPECT_EQ(osVersionText(), names.release);
    overrideOsVersionForTesting(5, 10, 2);
    EXPECT_EQ(osVersionText(), "5.10.2");
    clearOsVersionOverrideForTesting();
    EXPECT_EQ(osVersionText(), names.release);
}
