#pragma once

// Files for the download tests: reproducible installer bytes, and reference digests that do
// not come from the code under test.

#include "UpdateManager/download/DownloaderBackgrounder.h"
#include "tests/support/FileContent.h"
#include "tests/support/ReferenceDigests.h"

#include <boost/filesystem/operations.hpp>

#include <cstdint>
#include <string>

namespace Veltora::Testing
{

// Bytes from a linear congruential generator: every byte value occurs, and a different
// seed gives different content of the same size.
inline std::string patternedBytes(std::size_t size, std::uint32_t seed = 7)
{
    std::string bytes(size, '\0');
    for (char& byte : bytes)
    {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

inline std::string md5sumOf(const boost::filesystem::path& file)
{
    return referenceMd5Of(readFile(file));
}

inline std::string sha256sumOf(const boost::filesystem::path& file)
{
    return referenceSha256Of(readFile(file));
}

// The digest of `bytes`, written for the purpose to `scratch` and removed again.
inline std::string md5sumOf(const std::string& bytes, const boost::filesystem::path& scratch)
{
    writeFile(scratch, bytes);
    const std::string digest = md5sumOf(scratch);
    boost::filesystem::remove(scratch);
    return digest;
}

inline std::string sha256sumOf(const std::string& bytes, const boost::filesystem::path& scratch)
{
    writeFile(scratch, bytes);
    const std::string digest = sha256sumOf(scratch);
    boost::filesystem::remove(scratch);
    return digest;
}

inline int stateOf(UpdateManager::DownloadState state)
{
    return static_cast<int>(state);
}

inline bool hasEnded(const UpdateManager::DownloaderBackgrounder& downloader)
{
    const int state = downloader.state();
    return state != stateOf(UpdateManager::DownloadState::Idle) &&
           state != stateOf(UpdateManager::DownloadState::Downloading);
}

} // namespace Veltora::Testing
