#pragma once

#include "UpdateManager/download/FileVerification.h"
#include "UpdateManager/signing/Sha256Digest.h"

#include <Poco/MD5Engine.h>

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Veltora::UpdateManager
{

// The MD5 and, when asked for, the SHA-256 of a file that is being appended to, computed
// on a thread of its own that reads the file from its first byte and follows the writer:
// hashing overlaps the transfer, and the digests are ready soon after the last byte is
// written. Each block is read once and fed to both digests. The writer is never held up; the reader
// takes the bytes back from the system's file cache, one fixed-size block at a time, so
// memory does not grow with the file.
class GrowingFileDigest
{
public:
    // Starts following `file`, which already holds `presentBytes` bytes.
    GrowingFileDigest(const boost::filesystem::path& file, std::int64_t presentBytes,
                      bool withSha256);
    // Stops following and joins the thread.
    ~GrowingFileDigest();
    GrowingFileDigest(const GrowingFileDigest&) = delete;
    GrowingFileDigest& operator=(const GrowingFileDigest&) = delete;

    // The writer's report that the file now holds `size` bytes, all written out.
    void grownTo(std::int64_t size);

    // Waits until the bytes reported so far are hashed and returns the digests in
    // lowercase hexadecimal (the SHA-256 empty when not asked for); later calls return the
    // same. Nothing is reported afterwards.
    FileDigests finish();

    // After finish: the number of bytes hashed, and whether every reported byte could be
    // read back (a file that shrank or vanished meanwhile cannot).
    std::int64_t digestedBytes() const { return digested; }
    bool isComplete() const { return complete; }

private:
    void run();
    bool waitForBytes(std::int64_t& until, bool& last);

    boost::filesystem::path path;
    Poco::MD5Engine md5;
    std::unique_ptr<Sha256Digest> sha256;

    std::mutex mutex;
    std::condition_variable grown;
    std::int64_t reportedSize;
    bool finishing = false;
    std::atomic<bool> abandoned{false};

    // Written by the reading thread, read after it has been joined.
    std::int64_t digested = 0;
    bool complete = true;
    FileDigests digests;
    std::thread thread;
};

} // namespace Veltora::UpdateManager
