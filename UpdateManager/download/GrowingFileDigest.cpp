#include "UpdateManager/download/GrowingFileDigest.h"

#include <Poco/DigestEngine.h>

#include <boost/filesystem/fstream.hpp>

#include <algorithm>
#include <vector>

namespace Veltora::UpdateManager
{
namespace
{
constexpr std::int64_t blockSize = 256 * 1024;
} // namespace

GrowingFileDigest::GrowingFileDigest(const boost::filesystem::path& file, std::int64_t presentBytes,
                                     bool withSha256)
    : path(file), sha256(withSha256 ? std::make_unique<Sha256Digest>() : nullptr),
      reportedSize(presentBytes), thread(&GrowingFileDigest::run, this)
{
}

GrowingFileDigest::~GrowingFileDigest()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        abandoned = true;
    }
    grown.notify_one();
    if (thread.joinable())
        thread.join();
}

void GrowingFileDigest::grownTo(std::int64_t size)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        reportedSize = size;
    }
    grown.notify_one();
}

FileDigests GrowingFileDigest::finish()
{
    if (!thread.joinable())
        return digests;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finishing = true;
    }
    grown.notify_one();
    thread.join();
    digests.md5 = Poco::DigestEngine::digestToHex(md5.digest());
    digests.sha256 = sha256 ? sha256->hexDigest() : std::string();
    return digests;
}

void GrowingFileDigest::run()
{
    boost::filesystem::ifstream file(path, std::ios::in | std::ios::binary);
    std::vector<char> block(static_cast<std::size_t>(blockSize));
    std::int64_t until = 0;
    bool last = false;
    while (!last && waitForBytes(until, last))
    {
        while (digested < until && !abandoned)
        {
            const auto wanted = static_cast<std::streamsize>(std::min(blockSize, until - digested));
            file.read(block.data(), wanted);
            if (file.gcount() <= 0)
            {
                complete = false;
                return;
            }
            const auto count = static_cast<std::size_t>(file.gcount());
            md5.update(block.data(), count);
            if (sha256)
                sha256->update(block.data(), count);
            digested += file.gcount();
        }
    }
}

// Waits until more bytes are reported than are hashed, or the writer has finished; false
// when following is abandoned. `last` tells that no more bytes will be reported.
bool GrowingFileDigest::waitForBytes(std::int64_t& until, bool& last)
{
    std::unique_lock<std::mutex> lock(mutex);
    grown.wait(lock, [this] { return abandoned || finishing || reportedSize > digested; });
    until = reportedSize;
    last = finishing;
    return !abandoned;
}

} // namespace Veltora::UpdateManager
