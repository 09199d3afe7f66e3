#pragma once

namespace Veltora::Updater
{

// Ends the process at once with `status`: standard output is flushed, nothing else is
// cleaned up (no destructors run, so no thread is joined and no window is torn down).
[[noreturn]] void endProcess(int status);

} // namespace Veltora::Updater
