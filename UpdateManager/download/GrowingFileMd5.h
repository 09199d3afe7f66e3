#pragma once

#include <Poco/MD5Engine.h>

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace Veltora::UpdateManager
{

// The MD5 of a file that is being appended to, computed on a thread of its own that reads
// the file from its first byte and follows the writer: hashing overlaps the transfer, and
// the checksum is ready soon after the last byte is written. The writer is never held
// up; the reader takes the bytes back from the system's file cache, one fixed-size block
// at a time, so memory does not grow with the file.
class GrowingFileMd5
{
public:
    // Starts following `file`, which already holds `presentBytes` bytes.
    GrowingFileMd5(const boost::filesystem::path& file, std::int64_t presentBytes);
    // Stops following and joins the thread.
    ~GrowingFileMd5();
    GrowingFileMd5(const GrowingFileMd5&) = delete;
    GrowingFileMd5& operator=(const GrowingFileMd5&) = delete;

    // The writer's report that the file now holds `size` bytes, all written out.
    void grownTo(std::int64_t size);

    // Waits until the bytes reported so far are hashed and returns the lowercase
    // hexadecimal MD5; later calls return the same text. Nothing is reported afterwards.
    std::string finish();

    // After finish: the number of bytes hashed, and whether every reported byte could be
    // read back (a file that shrank or vanished meanwhile cannot).
    std::int64_t digestedBytes() const { return digested; }
    bool isComplete() const { return complete; }

private:
    void run();
    bool waitForBytes(std::int64_t& until, bool& last);

    boost::filesystem::path path;
    Poco::MD5Engine engine;

    std::mutex mutex;
    std::condition_variable grown;
    std::int64_t reportedSize;
    bool finishing = false;
    std::atomic<bool> abandoned{false};

    // Written by the reading thread, read after it has been joined.
    std::int64_t digested = 0;
    bool complete = true;
    std::string hexDigest;
    std::thread thread;
};

} // namespace Veltora::UpdateManager
