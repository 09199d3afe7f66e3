#include "tests/fuzz/FuzzSupport.h"

#include <boost/filesystem/operations.hpp>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace Veltora::Fuzzing
{

void fuzzCheck(bool holds, const std::string& what)
{
    if (holds)
        return;
    std::fprintf(stderr, "Property violated: %s\n", what.c_str());
    std::abort();
}

std::string textOf(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::vector<std::string> textsSeparatedByNul(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> texts(1);
    for (std::size_t index = 0; index < size; ++index)
    {
        if (data[index] == 0)
            texts.emplace_back();
        else
            texts.back() += static_cast<char>(data[index]);
    }
    return texts;
}

namespace
{
class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        const boost::filesystem::path pattern =
            boost::filesystem::temp_directory_path() / "veltora-fuzz-XXXXXX";
        std::string name = pattern.string();
        if (mkdtemp(name.data()) == nullptr)
            throw std::runtime_error("cannot make the folder " + name);
        folder = name;
    }
    ~TemporaryFolder()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(folder, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    std::string folder;
};
} // namespace

const std::string& privateFolder()
{
    static const TemporaryFolder temporary;
    return temporary.folder;
}

MemoryFile::MemoryFile()
{
    descriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
    if (descriptor < 0)
        throw std::runtime_error("memfd_create failed");
    filePath = "/proc/self/fd/" + std::to_string(descriptor);
}

MemoryFile::~MemoryFile()
{
    close(descriptor);
}

void MemoryFile::replaceContent(const std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    bool written = ftruncate(descriptor, 0) == 0;
    while (written && done < size)
    {
        const ssize_t count =
            pwrite(descriptor, data + done, size - done, static_cast<off_t>(done));
        written = count > 0;
        done += written ? static_cast<std::size_t>(count) : 0;
    }
    fuzzCheck(written, "the input could not be written to the memory file");
}

} // namespace Veltora::Fuzzing
