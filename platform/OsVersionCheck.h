#pragma once

#include <string>

namespace Veltora::Platform
{

// Whether the running system itself is at least (major, minor, servicePack); each backend
// asks its own system. isOsVersionAtLeast adds the tests' override on top.
bool isRunningOsAtLeast(unsigned major, unsigned minor, unsigned servicePack);
// The running system's version as its own tools show it; osVersionText adds the override.
std::string runningOsVersionText();

} // namespace Veltora::Platform
