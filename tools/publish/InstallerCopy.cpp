#include "tools/publish/InstallerCopy.h"

#include "UpdateManager/signing/Sha256Digest.h"
#include "tools/publish/PartialFile.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace Veltora::Publish
{
namespace fs = boost::filesystem;

namespace
{
constexpr std::size_t blockSize = 1 << 20;

} // namespace

void requireReadableInstaller(const fs::path& source)
{
    boost::system::error_code error;
    const fs::file_status status = fs::status(source, error);
    if (error)
        throw std::runtime_error("cannot read the installer " + source.string() + ": " +
                                 error.message());
    if (!fs::is_regular_file(status))
        throw std::runtime_error("the installer " + source.string() + " is not a regular file");
    if (!fs::ifstream(source, std::ios::binary))
        throw std::runtime_error("cannot read the installer " + source.string() + ": " +
                                 systemErrorText(errno));
}

InstallerFacts copyMeasuring(const fs::path& source, const fs::path& target)
{
    requireReadableInstaller(source);
    fs::ifstream input(source, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot read the installer " + source.string() + ": " +
                                 systemErrorText(errno));
    PartialFile partial(target);
    fs::ofstream output(partial.path(), std::ios::binary | std::ios::trunc);
    if (!output)
        throw std::runtime_error("cannot write " + partial.path().string() + ": " +
                                 systemErrorText(errno));

    Poco::MD5Engine md5;
    UpdateManager::Sha256Digest sha256;
    InstallerFacts facts;
    std::vector<char> block(blockSize);
    while (input.read(block.data(), static_cast<std::streamsize>(block.size())) ||
           input.gcount() > 0)
    {
        const auto count = static_cast<std::size_t>(input.gcount());
        md5.update(block.data(), count);
        sha256.update(block.data(), count);
        if (!output.write(block.data(), static_cast<std::streamsize>(count)))
            throw std::runtime_error("cannot write " + partial.path().string() + ": " +
                                     systemErrorText(errno));
        facts.size += count;
    }
    if (input.bad())
        throw std::runtime_error("cannot read the installer " + source.string() + ": " +
                                 systemErrorText(errno));
    output.close();
    if (!output)
        throw std::runtime_error("cannot write " + partial.path().string() + ": " +
                                 systemErrorText(errno));

    partial.renameOntoTarget();
    facts.md5 = Poco::DigestEngine::digestToHex(md5.digest());
    facts.sha256 = sha256.hexDigest();
    return facts;
}

} // namespace Veltora::Publish
