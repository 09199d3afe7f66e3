#pragma once

#include <Poco/MD5Engine.h>

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace Veltora::UpdateManager
{

// An output stream that appends to a file and feeds every byte of the file into an MD5
// digest on the way, so a finished download needs no second pass over the file to be
// verified. Opening digests the bytes already in the file first, so a resumed file's
// digest covers the whole file. The put position (tellp) is the file's size including
// what is still buffered.
//
// When the file cannot be opened the stream is bad and drops what is written, as a file
// stream that failed to open would.
class DigestingFileStream : public std::ostream
{
public:
    explicit DigestingFileStream(const boost::filesystem::path& file);
    ~DigestingFileStream() override;
    DigestingFileStream(const DigestingFileStream&) = delete;
    DigestingFileStream& operator=(const DigestingFileStream&) = delete;

    // Empties the file and the digest; what is written next starts the file anew.
    void restart();

    // Writes out what is buffered and closes the file.
    void close();

    // Number of bytes that went into the digest.
    std::int64_t digestedBytes() const { return buffer.digestedBytes(); }

    // Whether every byte of the file went into the digest: the existing bytes were read
    // completely and every write reached the file.
    bool isDigestComplete() const { return buffer.isComplete(); }

    // Lowercase hexadecimal MD5 of the digested bytes. Call after close().
    std::string md5();

private:
    class Buffer : public std::streambuf
    {
    public:
        explicit Buffer(const boost::filesystem::path& target);
        bool isOpen() const { return file.is_open(); }
        bool isComplete() const { return complete; }
        std::int64_t digestedBytes() const { return writtenBytes; }
        void restart();
        void close();
        std::string md5();

    protected:
        int_type overflow(int_type character) override;
        int sync() override;
        pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                         std::ios_base::openmode which) override;

    private:
        void digestExistingBytes();
        bool writePending();
        void resetPutArea();

        boost::filesystem::path path;
        std::filebuf file;
        Poco::MD5Engine engine;
        std::vector<char> storage;
        std::int64_t writtenBytes = 0;
        bool complete = true;
        std::string hexDigest;
    };

    Buffer buffer;
};

} // namespace Veltora::UpdateManager
