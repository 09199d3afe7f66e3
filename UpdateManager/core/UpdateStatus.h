#pragma once

#include <string>

namespace Veltora::UpdateManager
{

// A product's update status. The numbers are fixed: they appear in log lines and in the
// window's "Update status not handled" message.
enum UpdateStatus : int
{
    Unknown = 0,
    UpToDate = 1,
    UpdateNeeded = 2,
    DownloadInProgress = 3,
    DownloadPaused = 4,
    DownloadError = 5,
    InstallerAvailable = 6,
    InstallerStart = 7,
    InstallInProgress = 8,
    InstallComplete = 9,
    OsNotSupported = 10,
    Error = 11
};

// The status's text; "<error state unknown>" for a value outside 0 to 11.
std::string statusToString(int status);

} // namespace Veltora::UpdateManager
