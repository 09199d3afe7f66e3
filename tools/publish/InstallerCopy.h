#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <string>

namespace Veltora::Publish
{

// What the copy of an installer measured: its size, and its MD5 and SHA-256 as lowercase
// hexadecimal.
struct InstallerFacts
{
    std::uint64_t size = 0;
    std::string md5;
    std::string sha256;
};

// Throws std::runtime_error with a one-line reason unless `source` is a regular file that
// can be opened for reading; lets a caller refuse a bad installer before writing anything.
void requireReadableInstaller(const boost::filesystem::path& source);

// Copies `source` to `target` and measures it in the same single pass over the bytes: each
// block is read once, fed to both digests and written. The copy is written under a
// temporary name beside `target` and renamed onto it only when complete, so `target` is
// never a partial file; an existing `target` is replaced. Throws std::runtime_error with
// a one-line reason.
InstallerFacts copyMeasuring(const boost::filesystem::path& source,
                             const boost::filesystem::path& target);

} // namespace Veltora::Publish
