#pragma once

namespace Veltora::Testing
{

// A write to a connection whose peer hung up raises SIGPIPE on POSIX systems, which would
// end the test process. Windows has no such signal; there both do nothing.

// Blocks the signal for the calling thread (TLS writes go through OpenSSL, which cannot
// pass send flags); it then stays pending on that thread and the write fails instead.
void blockBrokenPipeSignalInThisThread();

// Flags for send() that keep a plain write from raising the signal.
int noBrokenPipeSignalSendFlags();

} // namespace Veltora::Testing
