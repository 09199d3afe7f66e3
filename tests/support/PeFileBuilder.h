#pragma once

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Veltora::Testing
{

// Builds a small PE image (PE32 or PE32+) whose one section ".rsrc" holds a resource tree
// with a named type, an RT_ICON type and, unless left out, an RT_VERSION resource
// (name 1, language 0x409) with a VS_VERSIONINFO block. The layout is recorded so that
// tests can corrupt precise fields of the result.
class PeFileBuilder
{
public:
    struct Version
    {
        std::uint16_t major = 0;
        std::uint16_t minor = 0;
        std::uint16_t build = 0;
        std::uint16_t revision = 0;
    };

    // File offsets of the fields and structures in the built image.
    struct Layout
    {
        std::size_t peHeaderOffsetField = 0x3C;
        std::size_t peHeader = 0;
        std::size_t sectionCountField = 0;
        std::size_t optionalHeader = 0;
        std::size_t rvaCountField = 0;
        std::size_t resourceDirectoryField = 0; // RVA, then size
        std::size_t sectionHeader = 0;
        std::size_t resourceSection = 0;   // raw data of .rsrc (tree offsets start here)
        std::size_t typeDirectory = 0;     // root of the tree
        std::size_t versionTypeEntry = 0;  // root entry for RT_VERSION
        std::size_t nameDirectory = 0;     // RT_VERSION's directory of names
        std::size_t languageDirectory = 0; // name 1's directory of languages
        std::size_t languageEntry = 0;
        std::size_t dataEntry = 0;   // RVA, size, code page, reserved
        std::size_t versionInfo = 0; // VS_VERSIONINFO
        std::size_t fixedFileInfo = 0;
        std::uint32_t resourceSectionAddress = 0; // RVA of .rsrc
    };

    PeFileBuilder& fileVersion(Version version);
    PeFileBuilder& productVersion(Version version);
    PeFileBuilder& wide(bool pe32Plus);
    PeFileBuilder& withoutVersionResource();

    std::vector<std::uint8_t> build();
    const Layout& layout() const { return positions; }

    static void writeFile(const boost::filesystem::path& file,
                          const std::vector<std::uint8_t>& bytes);
    static void putU16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
    static void putU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

private:
    void buildHeaders(std::vector<std::uint8_t>& image, std::uint32_t resourceSize);
    std::vector<std::uint8_t> buildResources();

    Version fileVersionValue{1, 0, 0, 0};
    Version productVersionValue{1, 0, 0, 0};
    bool pe32Plus = false;
    bool hasVersionResource = true;
    Layout positions;
};

} // namespace Veltora::Testing
