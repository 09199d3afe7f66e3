#include "tests/support/ConnectionSignals.h"

#include <csignal>
#include <pthread.h>
#include <sys/socket.h>

namespace Veltora::Testing
{

void blockBrokenPipeSignalInThisThread()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int noBrokenPipeSignalSendFlags()
{
    return MSG_NOSIGNAL;
}

} // namespace Veltora::Testing
