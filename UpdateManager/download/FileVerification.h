#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <string>

namespace Veltora::UpdateManager
{

// A file's MD5 and SHA-256 as lowercase hexadecimal text; empty texts when unknown.
struct FileDigests
{
    std::string md5;
    std::string sha256;
};

// Lowercase hexadecimal MD5 of the file's bytes; empty text when the file does not exist
// or testing for it fails. Stream and digest library errors propagate.
std::string md5OfFile(const boost::filesystem::path& file);

// Both digests of the file, from one read of it; empty texts when the file does not
// exist or testing for it fails. Stream and digest library errors propagate.
FileDigests digestsOfFile(const boost::filesystem::path& file);

// The file's size in bytes; 0 when it does not exist or cannot be measured.
std::int64_t fileSizeOrZero(const boost::filesystem::path& file);

} // namespace Veltora::UpdateManager
