#pragma once

#include "UpdateManager/download/GrowingFileDigest.h"

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace Veltora::UpdateManager
{

// An output stream that appends to a file while the file's MD5 (and, when asked for, its
// SHA-256) are computed alongside, so that a finished download needs no second pass over the file to be
// verified. The digests cover the bytes the file already held first, so a resumed file's
// digests are those of the whole file. The put position (tellp) is the file's size including what
// is still buffered.
//
// When the file cannot be opened the stream is bad and drops what is written, as a file
// stream that failed to open would.
class DigestingFileStream : public std::ostream
{
public:
    explicit DigestingFileStream(const boost::filesystem::path& file, bool withSha256 = false);
    ~DigestingFileStream() override;
    DigestingFileStream(const DigestingFileStream&) = delete;
    DigestingFileStream& operator=(const DigestingFileStream&) = delete;

    // Empties the file and the digest; what is written next starts the file anew.
    void restart();

    // Writes out what is buffered and closes the file.
    void close();

    // Lowercase hexadecimal MD5 and SHA-256 (empty when not asked for) of the file's
    // bytes. Call after close().
    FileDigests digests() { return buffer.digests(); }

    // After digests(): the number of bytes that went into them, and whether every byte
    // of the file did (the existing bytes were read back and every write succeeded).
    std::int64_t digestedBytes() const { return buffer.digestedBytes(); }
    bool isDigestComplete() const { return buffer.isComplete(); }

    // Whether the file could not be opened, or a write or the closing flush failed, since
    // the stream was made or restarted: bytes given to the stream may be missing on disk.
    bool hasWriteError() const { return buffer.hasWriteError(); }

private:
    class Buffer : public std::streambuf
    {
    public:
        Buffer(const boost::filesystem::path& target, bool withSha256);
        bool isOpen() const { return file.is_open(); }
        bool isComplete() const { return complete; }
        bool hasWriteError() const { return writeError; }
        std::int64_t digestedBytes() const { return hashedBytes; }
        void restart();
        void close();
        FileDigests digests();

    protected:
        int_type overflow(int_type character) override;
        int sync() override;
        pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                         std::ios_base::openmode which) override;

    private:
        void open(std::ios::openmode mode);
        bool writePending();
        void resetPutArea();

        boost::filesystem::path path;
        bool sha256Wanted;
        std::filebuf file;
        std::vector<char> storage;
        std::int64_t writtenBytes = 0;
        std::unique_ptr<GrowingFileDigest> digest;
        std::int64_t hashedBytes = 0;
        bool complete = true;
        bool writeError = false;
        FileDigests finished;
    };

    Buffer buffer;
};

} // namespace Veltora::UpdateManager
