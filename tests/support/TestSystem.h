#pragma once

namespace Veltora::Testing
{

// Whether the user's folders (profile, Downloads) and the registry follow the environment
// (HOME, the XDG variables, WINEPREFIX), so that a test can move or hide them: POSIX
// systems. Windows takes them from the user's profile and its own registry.
bool userSettingsFollowTheEnvironment();

// Whether a test can start the build machine's own programs (tinyproxy, nginx, openssl)
// through ChildProcess: POSIX systems. A Windows test program, run under Wine, cannot.
bool buildMachineProgramsCanRun();

} // namespace Veltora::Testing
