#include "tests/support/PeFileBuilder.h"

#include <fstream>
#include <stdexcept>
#include <string>

namespace Veltora::Testing
{
namespace
{
constexpr std::size_t dosHeaderSize = 64;
constexpr std::size_t headersSize = 0x200;
constexpr std::uint32_t sectionAddress = 0x1000;
constexpr std::uint32_t fileAlignment = 0x200;
constexpr std::uint32_t subdirectory = 0x80000000u;

std::size_t alignedTo(std::size_t value, std::size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

// A growing little-endian byte buffer.
class ByteWriter
{
public:
    std::size_t size() const { return bytes.size(); }
    std::vector<std::uint8_t>& data() { return bytes; }

    std::size_t u16(std::uint16_t value)
    {
        const std::size_t at = bytes.size();
        bytes.resize(at + 2);
        PeFileBuilder::putU16(bytes, at, value);
        return at;
    }
    std::size_t u32(std::uint32_t value)
    {
        const std::size_t at = bytes.size();
        bytes.resize(at + 4);
        PeFileBuilder::putU32(bytes, at, value);
        return at;
    }
    void wideText(const std::u16string& text)
    {
        for (const char16_t unit : text)
            u16(unit);
    }
    void alignTo(std::size_t alignment) { bytes.resize(alignedTo(bytes.size(), alignment)); }

    // An IMAGE_RESOURCE_DIRECTORY header; returns its offset.
    std::size_t directory(std::uint16_t namedEntries, std::uint16_t idEntries)
    {
        const std::size_t at = u32(0);
        u32(0);
        u16(0);
        u16(0);
        u16(namedEntries);
        u16(idEntries);
        return at;
    }
    // An entry whose target is patched later; returns the entry's offset.
    std::size_t entry(std::uint32_t name)
    {
        const std::size_t at = u32(name);
        u32(0);
        return at;
    }
    void pointEntry(std::size_t entryAt, std::uint32_t target)
    {
        PeFileBuilder::putU32(bytes, entryAt + 4, target);
    }

private:
    std::vector<std::uint8_t> bytes;
};

std::uint32_t mostSignificant(const PeFileBuilder::Version& version)
{
    return (std::uint32_t{version.major} << 16) | version.minor;
}

std::uint32_t leastSignificant(const PeFileBuilder::Version& version)
{
    return (std::uint32_t{version.build} << 16) | version.revision;
}
} // namespace

PeFileBuilder& PeFileBuilder::fileVersion(Version version)
{
    fileVersionValue = version;
    return *this;
}

PeFileBuilder& PeFileBuilder::productVersion(Version version)
{
    productVersionValue = version;
    return *this;
}

PeFileBuilder& PeFileBuilder::wide(bool plus)
{
    pe32Plus = plus;
    return *this;
}

PeFileBuilder& PeFileBuilder::withoutVersionResource()
{
    hasVersionResource = false;
    return *this;
}

std::vector<std::uint8_t> PeFileBuilder::build()
{
    positions = Layout{};
    positions.resourceSection = headersSize;
    positions.resourceSectionAddress = sectionAddress;
    std::vector<std::uint8_t> resources = buildResources();
    const auto resourceSize = static_cast<std::uint32_t>(resources.size());
    std::vector<std::uint8_t> image(headersSize, 0);
    buildHeaders(image, resourceSize);
    resources.resize(alignedTo(resources.size(), fileAlignment));
    image.insert(image.end(), resources.begin(), resources.end());
    return image;
}

void PeFileBuilder::buildHeaders(std::vector<std::uint8_t>& image, std::uint32_t resourceSize)
{
    image[0] = 'M';
    image[1] = 'Z';
    positions.peHeader = dosHeaderSize;
    putU32(image, positions.peHeaderOffsetField, static_cast<std::uint32_t>(positions.peHeader));
    putU32(image, positions.peHeader, 0x00004550u);
    const std::size_t coff = positions.peHeader + 4;
    const std::uint16_t optionalSize = pe32Plus ? 240 : 224;
    putU16(image, coff, pe32Plus ? 0x8664 : 0x014C);
    positions.sectionCountField = coff + 2;
    putU16(image, positions.sectionCountField, 1);
    putU16(image, coff + 16, optionalSize);
    putU16(image, coff + 18, 0x0102);

    positions.optionalHeader = coff + 20;
    const std::size_t optional = positions.optionalHeader;
    putU16(image, optional, pe32Plus ? 0x20B : 0x10B);
    putU32(image, optional + 32, sectionAddress); // section alignment
    putU32(image, optional + 36, fileAlignment);
    putU32(image, optional + 56,
           static_cast<std::uint32_t>(sectionAddress + alignedTo(resourceSize, sectionAddress)));
    putU32(image, optional + 60, static_cast<std::uint32_t>(headersSize));
    putU16(image, optional + 68, 2); // Windows GUI subsystem
    positions.rvaCountField = optional + (pe32Plus ? 108 : 92);
    putU32(image, positions.rvaCountField, 16);
    positions.resourceDirectoryField = positions.rvaCountField + 4 + 2 * 8;
    putU32(image, positions.resourceDirectoryField, sectionAddress);
    putU32(image, positions.resourceDirectoryField + 4, resourceSize);

    positions.sectionHeader = optional + optionalSize;
    const std::size_t section = positions.sectionHeader;
    const char name[] = ".rsrc";
    for (std::size_t index = 0; index + 1 < sizeof(name); ++index)
        image[section + index] = static_cast<std::uint8_t>(name[index]);
    putU32(image, section + 8, resourceSize);
    putU32(image, section + 12, sectionAddress);
    putU32(image, section + 16, static_cast<std::uint32_t>(alignedTo(resourceSize, fileAlignment)));
    putU32(image, section + 20, static_cast<std::uint32_t>(headersSize));
    putU32(image, section + 36, 0x40000040u); // initialised data, readable
}

std::vector<std::uint8_t> PeFileBuilder::buildResources()
{
    ByteWriter tree;
    const std::size_t base = positions.resourceSection;
    positions.typeDirectory = base + tree.directory(1, hasVersionResource ? 2 : 1);
    const std::size_t namedType = tree.entry(0);
    const std::size_t iconType = tree.entry(3);
    const std::size_t versionType = hasVersionResource ? tree.entry(16) : 0;

    // The named and RT_ICON types are empty directories the reader must pass over.
    tree.pointEntry(namedType, subdirectory | static_cast<std::uint32_t>(tree.directory(0, 0)));
    tree.pointEntry(iconType, subdirectory | static_cast<std::uint32_t>(tree.directory(0, 0)));
    PeFileBuilder::putU32(tree.data(), namedType,
                          subdirectory | static_cast<std::uint32_t>(tree.size()));
    tree.u16(6);
    tree.wideText(u"MYTYPE");
    tree.alignTo(4);
    if (!hasVersionResource)
        return std::move(tree.data());

    positions.versionTypeEntry = base + versionType;
    const std::size_t names = tree.directory(0, 1);
    positions.nameDirectory = base + names;
    tree.pointEntry(versionType, subdirectory | static_cast<std::uint32_t>(names));
    const std::size_t nameEntry = tree.entry(1);
    const std::size_t languages = tree.directory(0, 1);
    positions.languageDirectory = base + languages;
    tree.pointEntry(nameEntry, subdirectory | static_cast<std::uint32_t>(languages));
    const std::size_t languageEntry = tree.entry(0x409);
    positions.languageEntry = base + languageEntry;
    const std::size_t dataEntry = tree.u32(0);
    positions.dataEntry = base + dataEntry;
    tree.pointEntry(languageEntry, static_cast<std::uint32_t>(dataEntry));
    tree.u32(0);
    tree.u32(0);
    tree.u32(0);

    const std::size_t versionInfo = tree.size();
    positions.versionInfo = base + versionInfo;
    tree.u16(0); // length, patched below
    tree.u16(52);
    tree.u16(0);
    tree.wideText(u"VS_VERSION_INFO");
    tree.u16(0);
    tree.alignTo(4);
    positions.fixedFileInfo = base + tree.size();
    tree.u32(0xFEEF04BDu);
    tree.u32(0x00010000u);
    tree.u32(mostSignificant(fileVersionValue));
    tree.u32(leastSignificant(fileVersionValue));
    tree.u32(mostSignificant(productVersionValue));
    tree.u32(leastSignificant(productVersionValue));
    tree.u32(0x3F);
    tree.u32(0);
    tree.u32(0x00040004u);
    tree.u32(1);
    tree.u32(0);
    tree.u32(0);
    tree.u32(0);
    const std::size_t versionInfoSize = tree.size() - versionInfo;
    PeFileBuilder::putU16(tree.data(), versionInfo, static_cast<std::uint16_t>(versionInfoSize));
    PeFileBuilder::putU32(tree.data(), dataEntry,
                          sectionAddress + static_cast<std::uint32_t>(versionInfo));
    PeFileBuilder::putU32(tree.data(), dataEntry + 4, static_cast<std::uint32_t>(versionInfoSize));
    return std::move(tree.data());
}

void PeFileBuilder::writeFile(const boost::filesystem::path& file,
                              const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void PeFileBuilder::putU16(std::vector<std::uint8_t>& bytes, std::size_t offset,
                           std::uint16_t value)
{
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
    bytes[offset] = static_cast<std::uint8_t>(value);
}

void PeFileBuilder::putU32(std::vector<std::uint8_t>& bytes, std::size_t offset,
                           std::uint32_t value)
{
    putU16(bytes, offset, static_cast<std::uint16_t>(value));
    putU16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

} // namespace Veltora::Testing
