#include "UpdateManager/download/GrowingFileMd5.h"

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

GrowingFileMd5::GrowingFileMd5(const boost::filesystem::path& file, std::int64_t presentBytes)
    : path(file), reportedSize(presentBytes), thread(&GrowingFileMd5::run, this)
{
}

GrowingFileMd5::~GrowingFileMd5()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        abandoned = true;
    }
    grown.notify_one();
    if (thread.joinable())
        thread.join();
}

void GrowingFileMd5::grownTo(std::int64_t size)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        reportedSize = size;
    }
    grown.notify_one();
}

std::string GrowingFileMd5::finish()
{
    if (!thread.joinable())
        return hexDigest;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finishing = true;
    }
    grown.notify_one();
    thread.join();
    hexDigest = Poco::DigestEngine::digestToHex(engine.digest());
    return hexDigest;
}

void GrowingFileMd5::run()
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
            engine.update(block.data(), static_cast<std::size_t>(file.gcount()));
            digested += file.gcount();
        }
    }
}

// Waits until more bytes are reported than are hashed, or the writer has finished; false
// when following is abandoned. `last` tells that no more bytes will be reported.
bool GrowingFileMd5::waitForBytes(std::int64_t& until, bool& last)
{
    std::unique_lock<std::mutex> lock(mutex);
    grown.wait(lock, [this] { return abandoned || finishing || reportedSize > digested; });
    until = reportedSize;
    last = finishing;
    return !abandoned;
}

} // namespace Veltora::UpdateManager
