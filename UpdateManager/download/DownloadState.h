#pragma once

namespace Veltora::UpdateManager
{

// Where a download worker stands. The numbers are fixed: DownloaderBackgrounder::state
// returns them as int, and readers treat any value other than these as paused.
enum class DownloadState : int
{
    Idle = 0,        // a job is queued; nothing transferred yet
    Downloading = 1, // the transfer is running
    Paused = 2,      // ended without a complete file; the partial file stays for a resume
    Completed = 4,   // transferred completely and verified (or nothing to verify against)
    Failed = 5       // refused, inconsistent, failed the check, or ended by an error
};

} // namespace Veltora::UpdateManager
