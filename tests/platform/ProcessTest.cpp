// The children the platform layer starts (installers with spawnAndWait, the relaunched
// product with replaceProcess) get their arguments byte for byte and none of the
// starting process's signal state or descriptors. The child probe records both.
#include "platform/Platform.h"

#include "tests/support/ChildProbeRecord.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using Veltora::Platform::replaceProcess;
using Veltora::Platform::spawnAndWait;
using namespace Veltora::Testing;

namespace
{
const std::string probe = CHILD_PROBE;

// Texts that must reach the child unchanged, quotes of their own included.
const std::vector<std::string> awkwardArguments = {
    "\"quoted\"", "ends\"",    "\"starts",    "\"",          "\"\"",
    "",           "two words", "tab\there",   "line\nbreak", "back\\slash\\",
    "--server",   "/SILENT",   "caf\xC3\xA9",
};

// Puts this process into the state the updater may be in when it starts a child: SIGPIPE
// and SIGHUP ignored, SIGUSR2 blocked, a pipe and a socket open without close-on-exec.
// Everything is put back afterwards.
class DirtyProcessState
{
public:
    DirtyProcessState()
    {
        std::signal(SIGPIPE, SIG_IGN);
        std::signal(SIGHUP, SIG_IGN);
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR2);
        pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
        if (pipe(pipeEnds) != 0)
            pipeEnds[0] = pipeEnds[1] = -1;
        socketDescriptor = socket(AF_INET, SOCK_STREAM, 0);
    }
    ~DirtyProcessState()
    {
        for (const int descriptor : {pipeEnds[0], pipeEnds[1], socketDescriptor})
            if (descriptor >= 0)
                close(descriptor);
        pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        std::signal(SIGHUP, SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
    }
    DirtyProcessState(const DirtyProcessState&) = delete;
    DirtyProcessState& operator=(const DirtyProcessState&) = delete;

private:
    sigset_t previousMask{};
    int pipeEnds[2] = {-1, -1};
    int socketDescriptor = -1;
};

class ChildStart : public ::testing::Test
{
protected:
    ChildStart() { environment.set("CHILD_PROBE_RECORD_DIR", folder.path().string()); }

    std::optional<ChildProbeRecord> probeRecord() const
    {
        return readChildProbeRecord(folder.path(), "child_probe");
    }

    static std::vector<std::string> withAwkwardArguments(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.end(), awkwardArguments.begin(), awkwardArguments.end());
        return arguments;
    }

    TempFolder folder;
    ScopedEnvironment environment;
};
} // namespace

TEST_F(ChildStart, SpawnedChildGetsExactArgumentsAndACleanState)
{
    const DirtyProcessState dirty;
    const std::vector<std::string> arguments = withAwkwardArguments({probe});

    EXPECT_EQ(spawnAndWait(probe, arguments), 0);

    const auto record = probeRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->arguments, arguments);
    EXPECT_TRUE(record->startedClean()) << *record;
}

TEST_F(ChildStart, ReplacingProgramGetsExactArgumentsAndACleanState)
{
    const std::vector<std::string> arguments = withAwkwardArguments({probe});
    std::vector<std::string> replacing = {probe, "--replace-dirty"};
    replacing.insert(replacing.end(), arguments.begin(), arguments.end());

    EXPECT_EQ(spawnAndWait(probe, replacing), 0);

    const auto record = probeRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->arguments, arguments);
    EXPECT_TRUE(record->startedClean()) << *record;
}

TEST_F(ChildStart, SpawnGivesTheExitCodeOrMinusOne)
{
    for (const int code : {0, 1, 3, 255})
    {
        environment.set("CHILD_PROBE_EXIT_CODE", std::to_string(code));
        EXPECT_EQ(spawnAndWait(probe, {probe}), code);
    }
    EXPECT_EQ(spawnAndWait((folder / "missing").string(), {"missing"}), -1);
}

TEST_F(ChildStart, FailedReplacementReturnsWithTheSignalStateAsItWas)
{
    const DirtyProcessState dirty;
    sigset_t maskBefore;
    pthread_sigmask(SIG_SETMASK, nullptr, &maskBefore);

    replaceProcess((folder / "missing").string(), {"missing", "argument"});

    struct sigaction pipeAction
    {
    };
    sigaction(SIGPIPE, nullptr, &pipeAction);
    EXPECT_EQ(pipeAction.sa_handler, SIG_IGN);
    sigset_t maskAfter;
    pthread_sigmask(SIG_SETMASK, nullptr, &maskAfter);
    EXPECT_EQ(sigismember(&maskAfter, SIGUSR2), 1);
    EXPECT_EQ(sigismember(&maskBefore, SIGUSR2), 1);
    EXPECT_FALSE(probeRecord());
}

TEST_F(ChildStart, FailedReplacementInAChildEndsItWithOne)
{
    EXPECT_EQ(spawnAndWait(probe, {probe, "--replace-dirty", (folder / "missing").string()}), 1);
    EXPECT_FALSE(probeRecord());
}
