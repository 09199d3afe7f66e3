#include "UpdateManager/download/DownloaderBackgrounder.h"

#include "UpdateManager/download/DigestingFileStream.h"
#include "UpdateManager/download/FileVerification.h"
#include "log/CLog.h"

#include <Poco/Net/HTTPResponse.h>

#include <Poco/URI.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <exception>

namespace Veltora::UpdateManager
{
namespace fs = boost::filesystem;

DownloaderBackgrounder::DownloaderBackgrounder(const std::string& name)
    : downloader(std::make_unique<ActiveDownloader>(name))
{
}

// The worker is joined here, before the members its jobs use go away. Jobs that have not
// begun see `closing` and return at once; a running transfer stops after its chunk.
DownloaderBackgrounder::~DownloaderBackgrounder()
{
    closing.store(true);
    stop(true);
    downloader.reset();
}

void DownloaderBackgrounder::start(Data data)
{
    const auto record = std::make_shared<Data>(std::move(data));
    setState(DownloadState::Idle);
    if (boost::algorithm::istarts_with(record->url, "ftp"))
    {
        downloader->post([this, record] { ftpDownload(record); });
        return;
    }
    if (!boost::algorithm::istarts_with(record->url, "http"))
        record->url = "http://" + record->url;
    downloader->post([this, record] { httpDownload(record); });
}

void DownloaderBackgrounder::stop(bool wait)
{
    if (state() == static_cast<int>(DownloadState::Downloading))
        commands.push(StopRequest);
    if (wait)
        std::lock_guard<std::mutex> jobEnded(jobMutex);
}

std::string DownloaderBackgrounder::checksum() const
{
    std::lock_guard<std::mutex> lock(checksumMutex);
    return verifiedChecksum;
}

void DownloaderBackgrounder::ftpDownload(const std::shared_ptr<Data>&) {}

void DownloaderBackgrounder::httpDownload(const std::shared_ptr<Data>& data)
{
    std::lock_guard<std::mutex> jobLock(jobMutex);
    if (closing.load())
        return;
    const fs::path target(data->path);
    CLog::getInstance()->log("download", LogInfo, "HttpDownload Start ", data->url, " -> ", target,
                             " (expected size: ", data->expectedSize,
                             ", checksum: ", data->checksum);
    try
    {
        const std::string address = requestUrl(*data);
        setState(DownloadState::Downloading);
        reuseOrRemovePartialFile(*data, target);
        setInitialProgress(*data);
        DigestingFileStream file(target);
        sendRequest(*data, address, file);
        const DownloadState outcome = request.isOk() ? transfer(file) : refusalOutcome();
        file.close();
        CLog::getInstance()->log("download", LogInfo, "Download complete (", target, ")");
        // Published only once the file is closed: a resume that follows a pause at once
        // must measure every byte written.
        setState(outcome == DownloadState::Downloading ? verify(*data, target, file) : outcome);
    }
    catch (const std::exception& error)
    {
        CLog::getInstance()->log("download", LogError, "Error while downloading ", data->url,
                                 " to ", target.string(), " : ", error.what());
        setState(DownloadState::Failed);
    }
    // A stop request that came after the transfer loop must not end the next job.
    int lateRequest = 0;
    commands.tryPop(lateRequest);
}

std::string DownloaderBackgrounder::requestUrl(const Data& data)
{
    Poco::URI uri(data.url);
    if (uri.getScheme().empty())
        uri.setScheme("http");
    return uri.toString();
}

// A partial file is reused only when its size is exactly what the caller expected;
// otherwise the download starts from byte 0 into a new file.
void DownloaderBackgrounder::reuseOrRemovePartialFile(Data& data, const fs::path& target)
{
    const std::int64_t present =
        fs::exists(target) ? static_cast<std::int64_t>(fs::file_size(target)) : 0;
    if (present == data.resumeOffset)
        return;
    data.resumeOffset = 0;
    fs::remove(target);
}

void DownloaderBackgrounder::setInitialProgress(const Data& data)
{
    if (data.expectedSize > 0 && data.resumeOffset >= 0)
        progressFraction.store(std::min(1.0, static_cast<double>(data.resumeOffset) /
                                                 static_cast<double>(data.expectedSize)));
    else
        progressFraction.store(0.0);
}

// Asks for the bytes from resumeOffset on. A server that ignored the range sends the
// whole file, which must not be appended to the partial one: the file is started anew.
void DownloaderBackgrounder::sendRequest(Data& data, const std::string& address,
                                         DigestingFileStream& file)
{
    request.setStartOffset(data.resumeOffset);
    request.send(address);
    totalSize = request.expectedTotalSize();
    if (!rangeWasIgnored(data))
        return;
    CLog::getInstance()->log("download", LogWarning, "The server sent the whole file instead of ",
                             "the bytes from ", data.resumeOffset, " on; restarting ", data.path);
    file.restart();
    data.resumeOffset = 0;
    request.setStartOffset(0);
    totalSize = request.expectedTotalSize();
}

// A server that honours a range answers 206; a 200 carries the whole file from byte 0.
bool DownloaderBackgrounder::rangeWasIgnored(const Data& data) const
{
    return request.isOk() && data.resumeOffset > 0 &&
           request.status() == static_cast<int>(Poco::Net::HTTPResponse::HTTP_OK);
}

// Moves the body into the file; Downloading when it arrived whole, otherwise the state the
// job ends in.
DownloadState DownloaderBackgrounder::transfer(DigestingFileStream& file)
{
    progressFraction.store(request.progress());
    while (request.hasMoreData())
    {
        if (request.readChunk(file) == 0)
            return DownloadState::Paused;
        progressFraction.store(request.progress());
        if (takeStopRequest())
            return DownloadState::Paused;
    }
    if (request.state() == WebRequestState::Interrupted)
        return DownloadState::Paused;
    if (request.state() == WebRequestState::Inconsistent)
        return DownloadState::Failed;
    return DownloadState::Downloading;
}

// An unreachable server is worth another try from the same byte; any other refusal is not.
DownloadState DownloaderBackgrounder::refusalOutcome() const
{
    return request.state() == WebRequestState::ConnectionFailed ? DownloadState::Paused
                                                                : DownloadState::Failed;
}

bool DownloaderBackgrounder::takeStopRequest()
{
    int command = 0;
    return commands.tryPop(command) || closing.load();
}

DownloadState DownloaderBackgrounder::verify(const Data& data, const fs::path& target,
                                             DigestingFileStream& file)
{
    DownloadState result = DownloadState::Completed;
    const std::string name = target.string();
    const std::int64_t actual = fileSizeOrZero(fs::path(name));
    if (totalSize <= 0)
    {
        CLog::getInstance()->log("download", LogError, "Invalid expected size for ", data.path,
                                 " (", totalSize, ")");
    }
    else if (actual != totalSize)
    {
        CLog::getInstance()->log("download", LogError, "The size of ", name, " is ", actual,
                                 " while ", totalSize, " is expected");
        result = DownloadState::Failed;
    }
    setChecksum("");
    if (data.checksum.empty())
    {
        CLog::getInstance()->log("download", LogWarning, "No expected checksum for ", name,
                                 ". Can't verify download.");
        return result;
    }
    setChecksum(md5OfDownload(fs::path(name), actual, file));
    const std::string computed = checksum();
    CLog::getInstance()->log("download", LogDebug, "Checksum : '", computed, "'. Expected: '",
                             data.checksum, "'");
    if (computed != data.checksum)
    {
        CLog::getInstance()->log("download", LogError, "Bad checksum for ", name);
        result = DownloadState::Failed;
    }
    return result;
}

// The digest taken while writing covers the file when every byte of it went through the
// stream; otherwise (a write failed, the file changed or vanished) the file is read again.
std::string DownloaderBackgrounder::md5OfDownload(const fs::path& target, std::int64_t fileSize,
                                                  DigestingFileStream& file) const
{
    const std::string streamed = file.md5();
    boost::system::error_code error;
    const bool present = fs::exists(target, error) && !error;
    if (present && file.isDigestComplete() && file.digestedBytes() == fileSize)
        return streamed;
    return md5OfFile(target);
}

void DownloaderBackgrounder::setState(DownloadState newState)
{
    currentState.exchange(static_cast<int>(newState));
}

void DownloaderBackgrounder::setChecksum(const std::string& text)
{
    std::lock_guard<std::mutex> lock(checksumMutex);
    verifiedChecksum = text;
}

} // namespace Veltora::UpdateManager
