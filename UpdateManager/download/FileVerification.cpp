#include "UpdateManager/download/FileVerification.h"
#include "UpdateManager/signing/Sha256Digest.h"

#include <Poco/DigestStream.h>
#include <Poco/MD5Engine.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <memory>

namespace Veltora::UpdateManager
{
namespace
{
constexpr std::size_t blockSize = 8192;

bool existsOrFalse(const boost::filesystem::path& file)
{
    boost::system::error_code error;
    const bool found = boost::filesystem::exists(file, error);
    return found && !error;
}
} // namespace

std::string md5OfFile(const boost::filesystem::path& file)
{
    if (!existsOrFalse(file))
        return {};
    std::ifstream input(file.string(), std::ios::in | std::ios::binary);
    Poco::MD5Engine engine;
    Poco::DigestOutputStream digest(engine);
    const auto block = std::make_unique<char[]>(blockSize);
    input.read(block.get(), blockSize);
    while (input.gcount() > 0)
    {
        digest.write(block.get(), input.gcount());
        if (!input || !digest)
            break;
        input.read(block.get(), blockSize);
    }
    digest.flush();
    return Poco::DigestEngine::digestToHex(engine.digest());
}

FileDigests digestsOfFile(const boost::filesystem::path& file)
{
    if (!existsOrFalse(file))
        return {};
    std::ifstream input(file.string(), std::ios::in | std::ios::binary);
    Poco::MD5Engine md5;
    Sha256Digest sha256;
    const auto block = std::make_unique<char[]>(blockSize);
    while (input.read(block.get(), blockSize) || input.gcount() > 0)
    {
        const auto count = static_cast<std::size_t>(input.gcount());
        md5.update(block.get(), count);
        sha256.update(block.get(), count);
    }
    return {Poco::DigestEngine::digestToHex(md5.digest()), sha256.hexDigest()};
}

std::int64_t fileSizeOrZero(const boost::filesystem::path& file)
{
    boost::system::error_code error;
    if (!boost::filesystem::exists(file, error) || error)
        return 0;
    const auto size = boost::filesystem::file_size(file, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

} // namespace Veltora::UpdateManager
