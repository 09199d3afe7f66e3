#include "UpdateManager/download/DigestingFileStream.h"

#include <Poco/DigestEngine.h>

namespace Veltora::UpdateManager
{
namespace
{
// Large enough that the file and the digest see few, big blocks; fixed, so memory does
// not grow with the size of the download.
constexpr std::size_t storageSize = 256 * 1024;
} // namespace

DigestingFileStream::DigestingFileStream(const boost::filesystem::path& file)
    : std::ostream(nullptr), buffer(file)
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

std::string DigestingFileStream::md5()
{
    return buffer.md5();
}

DigestingFileStream::Buffer::Buffer(const boost::filesystem::path& target)
    : path(target), storage(storageSize)
{
    digestExistingBytes();
    if (!file.open(path.string(), std::ios::out | std::ios::app | std::ios::binary))
        complete = false;
    resetPutArea();
}

void DigestingFileStream::Buffer::digestExistingBytes()
{
    std::ifstream existing(path.string(), std::ios::in | std::ios::binary);
    if (!existing.is_open())
        return;
    while (existing.read(storage.data(), static_cast<std::streamsize>(storage.size())) ||
           existing.gcount() > 0)
    {
        engine.update(storage.data(), static_cast<std::size_t>(existing.gcount()));
        writtenBytes += existing.gcount();
    }
    if (existing.bad())
        complete = false;
}

void DigestingFileStream::Buffer::restart()
{
    resetPutArea();
    if (file.is_open())
        file.close();
    engine.reset();
    writtenBytes = 0;
    hexDigest.clear();
    complete =
        file.open(path.string(), std::ios::out | std::ios::trunc | std::ios::binary) != nullptr;
    resetPutArea();
}

void DigestingFileStream::Buffer::close()
{
    if (!file.is_open())
        return;
    writePending();
    if (file.close() == nullptr)
        complete = false;
    resetPutArea();
}

std::string DigestingFileStream::Buffer::md5()
{
    if (hexDigest.empty())
        hexDigest = Poco::DigestEngine::digestToHex(engine.digest());
    return hexDigest;
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
    if (!writePending() || file.pubsync() != 0)
        return -1;
    return 0;
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

bool DigestingFileStream::Buffer::writePending()
{
    const std::streamsize pending = pptr() - pbase();
    if (pending == 0)
        return file.is_open();
    if (!file.is_open())
        return false;
    const bool written = file.sputn(pbase(), pending) == pending;
    if (written)
    {
        engine.update(pbase(), static_cast<std::size_t>(pending));
        writtenBytes += pending;
    }
    else
    {
        complete = false;
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
