#include "tools/publish/InstallerCopy.h"

#include "UpdateManager/signing/Sha256Digest.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace Veltora::Publish
{
namespace fs = boost::filesystem;

namespace
{
constexpr std::size_t blockSize = 1 << 20;

std::string reasonOf(int error)
{
    return error != 0 ? std::strerror(error) : "input/output error";
}

// Removes the temporary copy unless it was renamed onto its target.
class PartialFile
{
public:
    explicit PartialFile(fs::path file) : path(std::move(file)) {}
    ~PartialFile()
    {
        boost::system::error_code ignored;
        if (!kept)
            fs::remove(path, ignored);
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const fs::path& get() const { return path; }
    void keep() { kept = true; }

private:
    fs::path path;
    bool kept = false;
};

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
                                 reasonOf(errno));
}

InstallerFacts copyMeasuring(const fs::path& source, const fs::path& target)
{
    requireReadableInstaller(source);
    fs::ifstream input(source, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot read the installer " + source.string() + ": " +
                                 reasonOf(errno));
    PartialFile partial(target.parent_path() /
                        fs::unique_path("." + target.filename().string() + ".partial-%%%%%%%%"));
    fs::ofstream output(partial.get(), std::ios::binary | std::ios::trunc);
    if (!output)
        throw std::runtime_error("cannot write " + partial.get().string() + ": " + reasonOf(errno));

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
            throw std::runtime_error("cannot write " + partial.get().string() + ": " +
                                     reasonOf(errno));
        facts.size += count;
    }
    if (input.bad())
        throw std::runtime_error("cannot read the installer " + source.string() + ": " +
                                 reasonOf(errno));
    output.close();
    if (!output)
        throw std::runtime_error("cannot write " + partial.get().string() + ": " + reasonOf(errno));

    fs::rename(partial.get(), target);
    partial.keep();
    facts.md5 = Poco::DigestEngine::digestToHex(md5.digest());
    facts.sha256 = sha256.hexDigest();
    return facts;
}

} // namespace Veltora::Publish
