#include "platform/Platform.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

// Reads the fixed file version from the version resource of a PE/COFF image (.exe, .dll):
// DOS header -> PE header -> resource data directory -> resource tree (type RT_VERSION,
// name 1, first language) -> VS_VERSIONINFO -> VS_FIXEDFILEINFO. Every offset and size
// read from the file is checked against the file before it is used, in 64-bit arithmetic,
// and the resource tree is walked to a fixed depth, so hostile files cannot make it read
// out of bounds or loop.
namespace Veltora::Platform
{
namespace
{
constexpr std::uint32_t resourceTypeVersion = 16;
constexpr std::uint32_t versionResourceName = 1;
constexpr std::uint32_t subdirectoryFlag = 0x80000000u;
constexpr std::uint32_t fixedFileInfoSignature = 0xFEEF04BDu;
constexpr std::size_t fixedFileInfoSize = 52;
constexpr std::size_t sectionHeaderSize = 40;
constexpr std::size_t resourceDirectorySize = 16;
constexpr std::size_t resourceEntrySize = 8;
constexpr std::size_t resourceDataEntrySize = 16;
// The fixed information sits right after the block's key, so the start of the block is
// all that is needed; this caps what a huge announced size makes us read.
constexpr std::size_t versionInfoReadLimit = 64 * 1024;

using Bytes = std::vector<std::uint8_t>;

std::uint16_t u16At(const Bytes& bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t u32At(const Bytes& bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// A regular file opened for reading, read by absolute ranges that must lie inside it.
class FileReader
{
public:
    explicit FileReader(const std::string& path)
    {
        // Non-blocking, so that a FIFO or device given as the path cannot stall the open.
        descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat status
        {
        };
        if (descriptor >= 0 && fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode))
            fileSize = static_cast<std::uint64_t>(status.st_size);
        else
            close();
    }
    ~FileReader() { close(); }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool isOpen() const { return descriptor >= 0; }
    std::uint64_t size() const { return fileSize; }

    bool read(std::uint64_t offset, std::uint64_t length, Bytes& bytes) const
    {
        if (!isOpen() || offset > fileSize || length > fileSize - offset)
            return false;
        bytes.assign(static_cast<std::size_t>(length), 0);
        std::size_t done = 0;
        while (done < bytes.size())
        {
            const ssize_t count = pread(descriptor, bytes.data() + done, bytes.size() - done,
                                        static_cast<off_t>(offset + done));
            if (count <= 0)
                return false;
            done += static_cast<std::size_t>(count);
        }
        return true;
    }

private:
    void close()
    {
        if (descriptor >= 0)
            ::close(descriptor);
        descriptor = -1;
    }

    int descriptor = -1;
    std::uint64_t fileSize = 0;
};

struct Section
{
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;

    // Bytes of the section that the file backs: the raw data, cut to the virtual size
    // when one is given (the rest of the raw data is padding the loader never maps).
    std::uint32_t backedSize() const
    {
        return virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
    }
};

// The parts of a PE image needed to reach its resources: the section table, to map
// relative virtual addresses to file offsets, and the resource directory's address.
class PeImage
{
public:
    explicit PeImage(const FileReader& reader) : file(reader) {}

    bool readHeaders()
    {
        Bytes dosHeader;
        if (!file.read(0, 64, dosHeader) || dosHeader[0] != 'M' || dosHeader[1] != 'Z')
            return false;
        const std::uint64_t peOffset = u32At(dosHeader, 0x3C);
        Bytes peHeader;
        if (!file.read(peOffset, 24, peHeader) || u32At(peHeader, 0) != 0x00004550u)
            return false;
        const std::uint16_t sectionCount = u16At(peHeader, 6);
        const std::uint16_t optionalHeaderSize = u16At(peHeader, 20);
        const std::uint64_t optionalHeaderOffset = peOffset + 24;
        return readResourceDirectoryEntry(optionalHeaderOffset, optionalHeaderSize) &&
               readSections(optionalHeaderOffset + optionalHeaderSize, sectionCount);
    }

    std::uint32_t resourcesAddress() const { return resourceAddress; }

    // The bytes at a relative virtual address; all of them must lie in the file-backed
    // part of one section.
    bool readAddress(std::uint64_t address, std::uint64_t length, Bytes& bytes) const
    {
        for (const Section& section : sections)
        {
            if (address < section.virtualAddress)
                continue;
            const std::uint64_t offsetInSection = address - section.virtualAddress;
            const std::uint64_t backed = section.backedSize();
            if (offsetInSection >= backed || length > backed - offsetInSection)
                continue;
            return file.read(section.rawOffset + offsetInSection, length, bytes);
        }
        return false;
    }

private:
    // Data directory 2 of the optional header (PE32 or PE32+) locates the resources.
    bool readResourceDirectoryEntry(std::uint64_t offset, std::uint16_t size)
    {
        Bytes header;
        if (size < 2 || !file.read(offset, size, header))
            return false;
        std::size_t countField = 0;
        const std::uint16_t magic = u16At(header, 0);
        if (magic == 0x10B)
            countField = 92;
        else if (magic == 0x20B)
            countField = 108;
        else
            return false;
        const std::size_t resourceEntry = countField + 4 + 2 * 8;
        if (resourceEntry + 8 > header.size() || u32At(header, countField) <= 2)
            return false;
        resourceAddress = u32At(header, resourceEntry);
        return resourceAddress != 0 && u32At(header, resourceEntry + 4) != 0;
    }

    bool readSections(std::uint64_t offset, std::uint16_t count)
    {
        Bytes table;
        if (!file.read(offset, std::uint64_t{count} * sectionHeaderSize, table))
            return false;
        for (std::size_t index = 0; index < count; ++index)
        {
            const std::size_t entry = index * sectionHeaderSize;
            sections.push_back(Section{u32At(table, entry + 12), u32At(table, entry + 8),
                                       u32At(table, entry + 16), u32At(table, entry + 20)});
        }
        return true;
    }

    const FileReader& file;
    std::uint32_t resourceAddress = 0;
    std::vector<Section> sections;
};

// One level of the resource tree. Offsets inside the tree are relative to its root.
class ResourceTree
{
public:
    explicit ResourceTree(const PeImage& peImage) : image(peImage) {}

    // The offset that the directory's entry with a numeric `id` points to, if any.
    std::optional<std::uint32_t> entryById(std::uint32_t directory, std::uint32_t id) const
    {
        Bytes entries;
        if (!readEntries(directory, entries))
            return std::nullopt;
        for (std::size_t entry = 0; entry < entries.size(); entry += resourceEntrySize)
            if (u32At(entries, entry) == id)
                return u32At(entries, entry + 4);
        return std::nullopt;
    }

    // The first entry of the directory, whatever its name or language.
    std::optional<std::uint32_t> firstEntry(std::uint32_t directory) const
    {
        Bytes entries;
        if (!readEntries(directory, entries) || entries.empty())
            return std::nullopt;
        return u32At(entries, 4);
    }

    bool read(std::uint32_t offset, std::uint64_t length, Bytes& bytes) const
    {
        return image.readAddress(std::uint64_t{image.resourcesAddress()} + offset, length, bytes);
    }

private:
    bool readEntries(std::uint32_t directory, Bytes& entries) const
    {
        Bytes header;
        if (!read(directory, resourceDirectorySize, header))
            return false;
        const std::uint64_t count = std::uint64_t{u16At(header, 12)} + u16At(header, 14);
        return image.readAddress(std::uint64_t{image.resourcesAddress()} + directory +
                                     resourceDirectorySize,
                                 count * resourceEntrySize, entries);
    }

    const PeImage& image;
};

std::optional<std::uint32_t> subdirectory(std::optional<std::uint32_t> entry)
{
    if (!entry || (*entry & subdirectoryFlag) == 0)
        return std::nullopt;
    return *entry & ~subdirectoryFlag;
}

std::optional<std::uint32_t> dataEntry(std::optional<std::uint32_t> entry)
{
    if (!entry || (*entry & subdirectoryFlag) != 0)
        return std::nullopt;
    return *entry;
}

// The start of the VS_VERSIONINFO block: type RT_VERSION, name 1, its first language.
bool readVersionBlock(const PeImage& image, Bytes& block)
{
    const ResourceTree tree(image);
    const std::optional<std::uint32_t> names = subdirectory(tree.entryById(0, resourceTypeVersion));
    if (!names)
        return false;
    const std::optional<std::uint32_t> languages =
        subdirectory(tree.entryById(*names, versionResourceName));
    if (!languages)
        return false;
    const std::optional<std::uint32_t> data = dataEntry(tree.firstEntry(*languages));
    Bytes entry;
    if (!data || !tree.read(*data, resourceDataEntrySize, entry))
        return false;
    const std::uint32_t blockAddress = u32At(entry, 0);
    const std::uint64_t blockSize = std::min<std::uint64_t>(u32At(entry, 4), versionInfoReadLimit);
    return image.readAddress(blockAddress, blockSize, block);
}

// VS_VERSIONINFO: length, value length, type, NUL-terminated UTF-16 key, padding to 32
// bits, then VS_FIXEDFILEINFO as the value.
bool parseFixedFileInfo(const Bytes& block, FileVersion& version)
{
    if (block.size() < 6)
        return false;
    const std::size_t blockLength = std::min<std::size_t>(u16At(block, 0), block.size());
    const std::uint16_t valueLength = u16At(block, 2);
    std::size_t position = 6;
    while (position + 2 <= blockLength && u16At(block, position) != 0)
        position += 2;
    if (position + 2 > blockLength)
        return false;
    const std::size_t valueOffset = (position + 2 + 3) & ~std::size_t{3};
    if (valueLength < fixedFileInfoSize || valueOffset + fixedFileInfoSize > blockLength ||
        u32At(block, valueOffset) != fixedFileInfoSignature)
        return false;
    const std::uint32_t mostSignificant = u32At(block, valueOffset + 8);
    const std::uint32_t leastSignificant = u32At(block, valueOffset + 12);
    version.major = static_cast<std::uint16_t>(mostSignificant >> 16);
    version.minor = static_cast<std::uint16_t>(mostSignificant & 0xFFFF);
    version.build = static_cast<std::uint16_t>(leastSignificant >> 16);
    version.revision = static_cast<std::uint16_t>(leastSignificant & 0xFFFF);
    return true;
}
} // namespace

bool readFixedFileVersion(const std::string& file, FileVersion& version)
{
    const FileReader reader(file);
    if (!reader.isOpen())
        return false;
    PeImage image(reader);
    Bytes block;
    FileVersion found;
    if (!image.readHeaders() || !readVersionBlock(image, block) ||
        !parseFixedFileInfo(block, found))
        return false;
    version = found;
    return true;
}

} // namespace Veltora::Platform
