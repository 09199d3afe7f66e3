#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

// Writing to a pipe whose reader is gone raises SIGPIPE, which ends a process by default;
// once ignored, the write fails with EPIPE and the caller decides.
TEST(BrokenConnection, AWriteToAClosedPeerFailsInsteadOfEndingTheProcess)
{
    Veltora::Platform::ignoreBrokenConnectionSignals();
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    errno = 0;
    EXPECT_EQ(write(ends[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(ends[1]);
}
