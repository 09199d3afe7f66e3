#pragma once

namespace Veltora::Platform
{

// Whether the running system itself is at least (major, minor, servicePack); each backend
// asks its own system. isOsVersionAtLeast adds the tests' override on top.
bool isRunningOsAtLeast(unsigned major, unsigned minor, unsigned servicePack);

} // namespace Veltora::Platform
