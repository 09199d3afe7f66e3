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

// Whether environment variable names differ by case (http_proxy beside HTTP_PROXY): POSIX
// systems. Windows holds one variable for both.
bool environmentNamesAreCaseSensitive();

// The line end the platform layer writes text files with ("\n"; "\r\n" on Windows).
const char* textFileLineEnd();

// Whether a file name may hold a double quote: POSIX systems, not Windows.
bool fileNamesMayHoldQuotes();

} // namespace Veltora::Testing
