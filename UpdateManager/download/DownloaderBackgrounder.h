#pragma once

#include "UpdateManager/download/ActiveDownloader.h"
#include "UpdateManager/download/DownloadState.h"
#include "UpdateManager/download/FileVerification.h"
#include "UpdateManager/download/SyncQueue.h"
#include "UpdateManager/web/WebRequest.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Veltora::UpdateManager
{

class DigestingFileStream;

// Downloads one product's installer in the background. Each start queues one job on the
// object's own worker thread, so jobs of one product never overlap. A job writes straight
// into the target file, resuming a partial file of exactly `resumeOffset` bytes with a
// range request, checks the finished file's size and MD5, and ends in a DownloadState.
//
// A file is Completed only when its size equals every size that is known (the answer's
// total, the description's `expectedSize` when positive), its MD5 matches when a
// checksum is expected and its SHA-256 matches when one is expected. Both digests are
// taken while the file is written, so verifying reads nothing back. A body that ends early,
// wherever it ends, or that receives fewer bytes than the low-speed limit over its window
// (LowSpeedLimit.h, adjustable through UPDATER_LOW_SPEED_LIMIT), ends Paused with the partial file
// kept. A resume answer that cannot continue the partial file (a 200, a 206 for other bytes, a 416
// the expected size does not confirm) restarts the file from byte 0 within the same job.
//
// The owner's thread calls every public operation and polls state, progress and checksum;
// the worker never calls back. Destruction stops a running transfer after its current
// chunk, leaves the partial file on disk, and discards jobs that have not begun.
class DownloaderBackgrounder
{
public:
    // One job: fetch `url` into `path` (narrow text). `checksum` is the expected MD5 in
    // hexadecimal (may be empty), `expectedSize` the announced size (may be 0),
    // `resumeOffset` the number of bytes of `path` the caller believes are present, and
    // `sha256` the expected SHA-256 in lowercase hexadecimal (may be empty).
    struct Data
    {
        std::string url;
        std::string path;
        std::string checksum;
        std::int64_t expectedSize = 0;
        std::int64_t resumeOffset = 0;
        std::string sha256;
    };

    // `name` labels the worker in its log lines (the update manager uses type + "/" + SKU).
    explicit DownloaderBackgrounder(const std::string& name);
    ~DownloaderBackgrounder();
    DownloaderBackgrounder(const DownloaderBackgrounder&) = delete;
    DownloaderBackgrounder& operator=(const DownloaderBackgrounder&) = delete;

    // Sets the state to Idle and queues a job; returns at once. Addresses beginning with
    // "ftp" (any case) or naming a scheme other than http and https queue a job that ends
    // Failed at once, logged; addresses not beginning with "http" (any case) get "http://"
    // in front.
    void start(Data data);

    // Sets the state to Idle and queues a job that ends Failed at once, without any
    // request or file: the owner refused the download (the reason is the owner's to log).
    void refuse();

    // Asks a running transfer to stop after its current chunk (state Paused). With `wait`,
    // returns only when no job is running. Nothing is remembered for a job not yet running.
    void stop(bool wait);

    // The current DownloadState as its number.
    int state() const { return currentState.load(); }
    // Fraction 0.0 to 1.0 of the target file present on disk.
    double progress() const { return progressFraction.load(); }
    // Lowercase hexadecimal MD5 of the last verified file; empty when there was no
    // expected checksum. Meaningful once state() is Completed.
    std::string checksum() const;
    // Lowercase hexadecimal SHA-256 of the last verified file; empty when there was no
    // expected SHA-256. Meaningful once state() is Completed.
    std::string sha256() const;

    // Why the last job ended Failed or Paused, as one plain sentence naming the address or
    // the file ("downloaded file /d/Setup.exe failed its check: size 12 of 34 bytes");
    // empty when it ended otherwise or was stopped on request.
    std::string problem() const;

private:
    static constexpr int StopRequest = 1;

    void httpDownload(const std::shared_ptr<Data>& data);
    void refuseAddress(const std::shared_ptr<Data>& data);
    void endRefused();
    static std::string requestUrl(const Data& data);

    void reuseOrRemovePartialFile(Data& data, const boost::filesystem::path& target);
    void setInitialProgress(const Data& data);
    DownloadState fetch(Data& data, const std::string& address, DigestingFileStream& file);
    bool requestBody(Data& data, const std::string& address, DigestingFileStream& file);
    std::string misfitOfAnswer(const Data& data) const;
    DownloadState transfer(const Data& data, DigestingFileStream& file);
    double progressOf(const Data& data) const;
    DownloadState refusalOutcome() const;
    bool takeStopRequest();
    DownloadState verify(const Data& data, const boost::filesystem::path& target,
                         DigestingFileStream& file);
    DownloadState checkSize(const Data& data, const std::string& name, std::int64_t actual);
    DownloadState checkMd5(const Data& data, const std::string& name, const std::string& md5);
    DownloadState checkSha256(const Data& data, const std::string& name, const std::string& sha256);
    FileDigests digestsOfDownload(const boost::filesystem::path& target, std::int64_t fileSize,
                                  DigestingFileStream& file) const;
    void setState(DownloadState newState);
    void setChecksum(const std::string& text);
    void setSha256(const std::string& text);
    void setProblem(const std::string& text);

    std::unique_ptr<ActiveDownloader> downloader;
    SyncQueue<int> commands;
    std::atomic<double> progressFraction{0.0};
    std::atomic<int> currentState{static_cast<int>(DownloadState::Idle)};
    WebRequest request;
    std::int64_t totalSize = 0;
    std::string verifiedChecksum;
    std::string verifiedSha256;
    mutable std::mutex checksumMutex;
    std::string jobProblem;
    mutable std::mutex problemMutex;
    std::mutex jobMutex;
    // Set by the destructor: jobs that have not begun are skipped, a running one stops.
    std::atomic<bool> closing{false};
};

} // namespace Veltora::UpdateManager
