#pragma once

#include <string>

namespace Veltora::Updater
{

// Ends the process at once with the non-zero `status`, explained by `cause` on standard
// error (reportFailure): standard output is flushed, nothing else is cleaned up (no
// destructors run, so no thread is joined and no window is torn down).
[[noreturn]] void endProcess(int status, const std::string& cause);

} // namespace Veltora::Updater
