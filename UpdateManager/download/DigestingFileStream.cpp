#include "UpdateManager/download/DigestingFileStream.h"

#include <boost/filesystem/operations.hpp>

namespace Veltora::UpdateManager
{
namespace
{
// Large enough that the file sees few, big writes; fixed, so memory does not grow with
// the size of the download.
constexpr std::size_t storageSize = 256 * 1024;
} // namespace

DigestingFileStream::DigestingFileStream(const boost::filesystem::path& file, bool withSha256)
    : std::ostream(nullptr), buffer(file, withSha256)
{
    rdbuf(&buffer);
    if (!buffer.isOpen())
        setstate(std::ios::badbit);
}

DigestingFileStream::~DigestingFileStream()
{
    buffer.close();
}

void DigestingFileStream::restart()
{
    buffer.restart();
    clear(buffer.isOpen() ? std::ios::goodbit : std::ios::badbit);
}

void DigestingFileStream::close()
{
    buffer.close();
}

DigestingFileStream::Buffer::Buffer(const boost::filesystem::path& target, bool withSha256)
    : path(target), sha256Wanted(withSha256), storage(storageSize)
{
    open(std::ios::out | std::ios::app | std::ios::binary);
}

// Opens the file and starts the digest over the bytes it holds.
void DigestingFileStream::Buffer::open(std::ios::openmode mode)
{
    digest.reset();
    writtenBytes = 0;
    finished = {};
    complete = file.open(path.string(), mode) != nullptr;
    writeError = !complete;
    if (complete)
    {
        boost::system::error_code error;
        const auto present = boost::filesystem::file_size(path, error);
        writtenBytes = error ? 0 : static_cast<std::int64_t>(present);
        complete = !error;
        digest = std::make_unique<GrowingFileDigest>(path, writtenBytes, sha256Wanted);
    }
    resetPutArea();
}

void DigestingFileStream::Buffer::restart()
{
    if (file.is_open())
        file.close();
    open(std::ios::out | std::ios::trunc | std::ios::binary);
}

void DigestingFileStream::Buffer::close()
{
    if (!file.is_open())
        return;
    writePending();
    if (file.close() == nullptr)
    {
        complete = false;
        writeError = true;
    }
    resetPutArea();
}

FileDigests DigestingFileStream::Buffer::digests()
{
    if (digest && finished.md5.empty())
    {
        finished = digest->finish();
        hashedBytes = digest->digestedBytes();
        complete = complete && digest->isComplete();
    }
    return finished;
}

DigestingFileStream::Buffer::int_type DigestingFileStream::Buffer::overflow(int_type character)
{
    if (!writePending())
        return traits_type::eof();
    if (!traits_type::eq_int_type(character, traits_type::eof()))
    {
        *pptr() = traits_type::to_char_type(character);
        pbump(1);
    }
    return traits_type::not_eof(character);
}

int DigestingFileStream::Buffer::sync()
{
    return writePending() ? 0 : -1;
}

DigestingFileStream::Buffer::pos_type
DigestingFileStream::Buffer::seekoff(off_type offset, std::ios_base::seekdir direction,
                                     std::ios_base::openmode which)
{
    // Only the current position can be asked for; the file is appended to, never sought.
    if (offset != 0 || direction != std::ios_base::cur || !(which & std::ios_base::out) ||
        !file.is_open())
        return pos_type(off_type(-1));
    return pos_type(off_type(writtenBytes + (pptr() - pbase())));
}

// Writes the buffered bytes through to the file, where the digest reads them back.
bool DigestingFileStream::Buffer::writePending()
{
    if (!file.is_open())
        return false;
    const std::streamsize pending = pptr() - pbase();
    if (pending == 0)
        return true;
    const bool written = file.sputn(pbase(), pending) == pending && file.pubsync() == 0;
    if (written)
    {
        writtenBytes += pending;
        digest->grownTo(writtenBytes);
    }
    else
    {
        complete = false;
        writeError = true;
    }
    resetPutArea();
    return written;
}

void DigestingFileStream::Buffer::resetPutArea()
{
    if (file.is_open())
        setp(storage.data(), storage.data() + storage.size());
    else
        setp(nullptr, nullptr);
}

} // namespace Veltora::UpdateManager
