#include "UpdateManager/download/DownloaderBackgrounder.h"

#include "UpdateManager/core/MaskedUrl.h"
#include "UpdateManager/download/DigestingFileStream.h"
#include "UpdateManager/download/FileVerification.h"
#include "log/CLog.h"
#include "log/LogCategory.h"

#include <Poco/Net/HTTPResponse.h>

#include <Poco/URI.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cctype>
#include <exception>

namespace Veltora::UpdateManager
{
namespace fs = boost::filesystem;

namespace
{
// The scheme an address names before "://", in lower case; empty when it names none (a
// bare host, or "://" only later, inside the path or query).
std::string explicitScheme(const std::string& url)
{
    const auto separator = url.find("://");
    if (separator == std::string::npos || separator == 0 ||
        !std::isalpha(static_cast<unsigned char>(url[0])))
        return {};
    std::string scheme = url.substr(0, separator);
    for (char& character : scheme)
    {
        const auto byte = static_cast<unsigned char>(character);
        if (!std::isalnum(byte) && byte != '+' && byte != '-' && byte != '.')
            return {};
        character = static_cast<char>(std::tolower(byte));
    }
    return scheme;
}

// Addresses beginning with "ftp" (any case) and those naming any scheme other than http
// and https cannot be fetched.
bool isFetchable(const std::string& url)
{
    if (boost::algorithm::istarts_with(url, "ftp"))
        return false;
    const std::string scheme = explicitScheme(url);
    return scheme.empty() || scheme == "http" || scheme == "https";
}
} // namespace

DownloaderBackgrounder::DownloaderBackgrounder(const std::string& name)
    : downloader(std::make_unique<ActiveDownloader>(name))
{
    request.setLowSpeedLimit(LowSpeedLimit::fromEnvironment());
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
    if (!isFetchable(record->url))
    {
        downloader->post([this, record] { refuseAddress(record); });
        return;
    }
    if (!boost::algorithm::istarts_with(record->url, "http"))
        record->url = "http://" + record->url;
    downloader->post([this, record] { httpDownload(record); });
}

void DownloaderBackgrounder::refuse()
{
    setState(DownloadState::Idle);
    downloader->post([this] { endRefused(); });
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

std::string DownloaderBackgrounder::sha256() const
{
    std::lock_guard<std::mutex> lock(checksumMutex);
    return verifiedSha256;
}

void DownloaderBackgrounder::refuseAddress(const std::shared_ptr<Data>& data)
{
    std::lock_guard<std::mutex> jobLock(jobMutex);
    if (closing.load())
        return;
    CLog::getInstance()->log(LogCategory::download, LogError, "Cannot download ",
                             maskedUrl(data->url),
                             ": only http and https addresses can be fetched");
    setProblem("cannot download " + maskedUrl(data->url) +
               ": only http and https addresses can be fetched");
    setState(DownloadState::Failed);
}

void DownloaderBackgrounder::endRefused()
{
    std::lock_guard<std::mutex> jobLock(jobMutex);
    if (closing.load())
        return;
    setChecksum("");
    setSha256("");
    setState(DownloadState::Failed);
}

void DownloaderBackgrounder::httpDownload(const std::shared_ptr<Data>& data)
{
    std::lock_guard<std::mutex> jobLock(jobMutex);
    if (closing.load())
        return;
    const fs::path target(data->path);
    CLog::getInstance()->log(
        LogCategory::download, LogInfo, "HttpDownload Start ", maskedUrl(data->url), " -> ", target,
        " (expected size: ", data->expectedSize, ", checksum: ", data->checksum);
    setProblem("");
    try
    {
        const std::string address = requestUrl(*data);
        setState(DownloadState::Downloading);
        reuseOrRemovePartialFile(*data, target);
        setInitialProgress(*data);
        DigestingFileStream file(target, !data->sha256.empty());
        const DownloadState outcome = fetch(*data, address, file);
        file.close();
        CLog::getInstance()->log(LogCategory::download, LogInfo, "Download complete (", target,
                                 ")");
        // Published only once the file is closed: a resume that follows a pause at once
        // must measure every byte written.
        setState(outcome == DownloadState::Downloading ? verify(*data, target, file) : outcome);
    }
    catch (const std::exception& error)
    {
        CLog::getInstance()->log(LogCategory::download, LogError, "Error while downloading ",
                                 maskedUrl(data->url), " to ", target.string(), " : ",
                                 error.what());
        setProblem("cannot download " + maskedUrl(data->url) + " to " + target.string() + ": " +
                   error.what());
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

// Sends the request, then moves the body into the file. Downloading when the body
// arrived whole, otherwise the state the job ends in.
DownloadState DownloaderBackgrounder::fetch(Data& data, const std::string& address,
                                            DigestingFileStream& file)
{
    if (!requestBody(data, address, file))
        return DownloadState::Failed;
    if (!request.isOk())
    {
        setProblem(request.failure());
        return refusalOutcome();
    }
    return transfer(data, file);
}

// Asks for the bytes from resumeOffset on. An answer that cannot continue the partial
// file drops it, and the file is fetched anew from byte 0: a 200 already carries the
// whole file, any other answer is asked again without a range. False when even that
// answer does not fit.
bool DownloaderBackgrounder::requestBody(Data& data, const std::string& address,
                                         DigestingFileStream& file)
{
    request.setStartOffset(data.resumeOffset);
    request.send(address);
    totalSize = request.expectedTotalSize();
    std::string misfit = misfitOfAnswer(data);
    if (!misfit.empty() && data.resumeOffset > 0)
    {
        CLog::getInstance()->log(LogCategory::download, LogWarning, misfit, "; restarting ",
                                 data.path);
        file.restart();
        data.resumeOffset = 0;
        request.setStartOffset(0);
        if (request.status() != static_cast<int>(Poco::Net::HTTPResponse::HTTP_OK))
            request.send(address);
        totalSize = request.expectedTotalSize();
        misfit = misfitOfAnswer(data);
    }
    if (misfit.empty())
        return true;
    CLog::getInstance()->log(LogCategory::download, LogError, "Unusable answer for ",
                             maskedUrl(data.url), ": ", misfit);
    setProblem("the answer for " + maskedUrl(data.url) + " cannot be used: " + misfit);
    return false;
}

// Why a usable answer cannot continue the file at resumeOffset; empty when it can. A 206
// must start at that byte and agree with the expected size; a 416 (the server holds no
// byte beyond the partial file) counts only when the expected size confirms that total.
std::string DownloaderBackgrounder::misfitOfAnswer(const Data& data) const
{
    if (!request.isOk())
        return {};
    const std::string offset = std::to_string(data.resumeOffset);
    switch (static_cast<Poco::Net::HTTPResponse::HTTPStatus>(request.status()))
    {
    case Poco::Net::HTTPResponse::HTTP_OK:
        return data.resumeOffset == 0 ? std::string()
                                      : "The server sent the whole file instead of the bytes "
                                        "from " +
                                            offset + " on";
    case Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT:
    {
        const auto range = request.contentRange();
        if (!range)
            return "The server sent part of the file without a usable Content-Range";
        if (range->first != data.resumeOffset)
            return "The server sent the bytes from " + std::to_string(range->first) +
                   " on instead of the bytes from " + offset + " on";
        if (range->total >= 0 && data.expectedSize > 0 && range->total != data.expectedSize)
            return "The server's file has " + std::to_string(range->total) + " bytes while " +
                   std::to_string(data.expectedSize) + " are expected";
        return {};
    }
    default:
        if (data.expectedSize > 0 && totalSize == data.expectedSize)
            return {};
        return "The server reports the file complete at " + offset +
               " bytes, which the expected size of " + std::to_string(data.expectedSize) +
               " does not confirm";
    }
}

// Moves the body into the file; Downloading when it arrived whole, Paused when it ended
// early wherever that was (the partial file stays for a resume), Failed when it is
// inconsistent.
DownloadState DownloaderBackgrounder::transfer(const Data& data, DigestingFileStream& file)
{
    if (totalSize > 0)
        progressFraction.store(request.progress());
    while (request.hasMoreData())
    {
        request.readChunk(file);
        progressFraction.store(progressOf(data));
        if (takeStopRequest())
            return DownloadState::Paused;
    }
    if (request.state() == WebRequestState::Interrupted)
    {
        CLog::getInstance()->log(LogCategory::download, LogWarning, "The transfer of ",
                                 maskedUrl(data.url), " ended early, with ", request.bytesWritten(),
                                 " bytes in the file; paused for a resume");
        setProblem(request.failure());
        return DownloadState::Paused;
    }
    if (request.state() == WebRequestState::Inconsistent)
    {
        setProblem(request.failure());
        return DownloadState::Failed;
    }
    return DownloadState::Downloading;
}

// The fraction of the whole file present: of the answer's total, or of the expected size
// when the answer gave none.
double DownloaderBackgrounder::progressOf(const Data& data) const
{
    if (totalSize > 0 || data.expectedSize <= 0)
        return request.progress();
    return std::min(1.0, static_cast<double>(request.bytesWritten()) /
                             static_cast<double>(data.expectedSize));
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
    const std::string name = target.string();
    setChecksum("");
    setSha256("");
    if (file.hasWriteError())
    {
        CLog::getInstance()->log(LogCategory::download, LogError, "Could not write all of ", name);
        setProblem("could not write all of " + name);
        return DownloadState::Failed;
    }
    const std::int64_t actual = fileSizeOrZero(fs::path(name));
    const DownloadState sizeOutcome = checkSize(data, name, actual);
    if (sizeOutcome == DownloadState::Paused)
        return sizeOutcome;
    const bool digestsExpected = !data.checksum.empty() || !data.sha256.empty();
    const FileDigests digests =
        digestsExpected ? digestsOfDownload(fs::path(name), actual, file) : FileDigests{};
    const bool md5Matches = checkMd5(data, name, digests.md5) == DownloadState::Completed;
    const bool sha256Matches = checkSha256(data, name, digests.sha256) == DownloadState::Completed;
    return sizeOutcome == DownloadState::Failed || !md5Matches || !sha256Matches
               ? DownloadState::Failed
               : DownloadState::Completed;
}

// The file's size must equal every size that is known: the answer's total (totalSize, -1
// when the answer gave none) and the description's (expectedSize, when positive). A file
// short of one of them was cut (Paused, for a resume); one that no positive size confirms
// is never complete. Downloading when the size is confirmed.
DownloadState DownloaderBackgrounder::checkSize(const Data& data, const std::string& name,
                                                std::int64_t actual)
{
    const std::int64_t answered = totalSize;
    const std::int64_t described = data.expectedSize;
    const std::int64_t reachable = answered >= 0 ? answered : described;
    if (actual < reachable)
    {
        CLog::getInstance()->log(LogCategory::download, LogWarning, "The size of ", name, " is ",
                                 actual, " while ", reachable, " is expected; paused for a resume");
        setProblem("downloaded file " + name + " is short: " + std::to_string(actual) + " of " +
                   std::to_string(reachable) + " bytes");
        return DownloadState::Paused;
    }
    const std::int64_t mismatch = answered >= 0 && actual != answered    ? answered
                                  : described > 0 && actual != described ? described
                                                                         : -1;
    if (mismatch >= 0)
    {
        CLog::getInstance()->log(LogCategory::download, LogError, "The size of ", name, " is ",
                                 actual, " while ", mismatch, " is expected");
        setProblem("downloaded file " + name + " failed its check: size " + std::to_string(actual) +
                   " of " + std::to_string(mismatch) + " bytes");
        return DownloadState::Failed;
    }
    if (answered <= 0 && described <= 0)
    {
        CLog::getInstance()->log(LogCategory::download, LogError, "The size of ", name, " (",
                                 actual, " bytes) cannot be confirmed: neither the server nor the ",
                                 "description states it");
        setProblem("downloaded file " + name + " failed its check: nothing confirms its size of " +
                   std::to_string(actual) + " bytes");
        return DownloadState::Failed;
    }
    return DownloadState::Downloading;
}

DownloadState DownloaderBackgrounder::checkMd5(const Data& data, const std::string& name,
                                               const std::string& md5)
{
    if (data.checksum.empty())
    {
        CLog::getInstance()->log(LogCategory::download, LogWarning, "No expected checksum for ",
                                 name, ". Can't verify download.");
        return DownloadState::Completed;
    }
    setChecksum(md5);
    CLog::getInstance()->log(LogCategory::download, LogDebug, "Checksum : '", md5, "'. Expected: '",
                             data.checksum, "'");
    if (md5 == data.checksum)
        return DownloadState::Completed;
    CLog::getInstance()->log(LogCategory::download, LogError, "Bad checksum for ", name);
    setProblem("downloaded file " + name + " failed its check: MD5 " + md5 + " instead of " +
               data.checksum);
    return DownloadState::Failed;
}

// Only a release that names its installer's SHA-256 (a signed one) expects it.
DownloadState DownloaderBackgrounder::checkSha256(const Data& data, const std::string& name,
                                                  const std::string& sha256)
{
    if (data.sha256.empty())
        return DownloadState::Completed;
    setSha256(sha256);
    CLog::getInstance()->log(LogCategory::download, LogDebug, "SHA-256 : '", sha256,
                             "'. Expected: '", data.sha256, "'");
    if (sha256 == data.sha256)
        return DownloadState::Completed;
    CLog::getInstance()->log(LogCategory::download, LogError, "Bad SHA-256 for ", name);
    setProblem("downloaded file " + name + " failed its check: SHA-256 " + sha256 + " instead of " +
               data.sha256);
    return DownloadState::Failed;
}

// The digests taken while writing cover the file when every byte of it went through the
// stream; otherwise (a write failed, the file changed or vanished) the file is read again.
FileDigests DownloaderBackgrounder::digestsOfDownload(const fs::path& target, std::int64_t fileSize,
                                                      DigestingFileStream& file) const
{
    const FileDigests streamed = file.digests();
    boost::system::error_code error;
    const bool present = fs::exists(target, error) && !error;
    if (present && file.isDigestComplete() && file.digestedBytes() == fileSize)
        return streamed;
    return digestsOfFile(target);
}

void DownloaderBackgrounder::setState(DownloadState newState)
{
    currentState.exchange(static_cast<int>(newState));
}

std::string DownloaderBackgrounder::problem() const
{
    std::lock_guard<std::mutex> lock(problemMutex);
    return jobProblem;
}

void DownloaderBackgrounder::setProblem(const std::string& text)
{
    std::lock_guard<std::mutex> lock(problemMutex);
    jobProblem = text;
}

void DownloaderBackgrounder::setChecksum(const std::string& text)
{
    std::lock_guard<std::mutex> lock(checksumMutex);
    verifiedChecksum = text;
}

void DownloaderBackgrounder::setSha256(const std::string& text)
{
    std::lock_guard<std::mutex> lock(checksumMutex);
    verifiedSha256 = text;
}

} // namespace Veltora::UpdateManager
