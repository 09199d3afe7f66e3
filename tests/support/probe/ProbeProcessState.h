#pragma once

// How the child probe finds the state it was started in, and how it spoils its own state
// before it replaces itself, on each system.

#include <string>
#include <vector>

namespace Veltora::Testing
{

// The masks of blocked and ignored signals, hexadecimal as Linux's /proc/self/status shows
// them; "0" where a process starts with no signal state from its parent (Windows).
std::string blockedSignalsOfThisProcess();
std::string ignoredSignalsOfThisProcess();

// The open descriptors (POSIX) or C run time file descriptors (Windows), ascending.
// Call it before the probe opens anything itself.
std::vector<int> openDescriptorsOfThisProcess();

// Ignores and blocks some signals, where the system has them, and leaves descriptor 9 open
// and inheritable, as the updater's own state may be when it starts a child.
void spoilProcessState();

} // namespace Veltora::Testing
