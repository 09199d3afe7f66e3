// The reader of the fixed file version in a PE image's version resource, given the
// fuzzer's bytes as the file.

#include "platform/Platform.h"
#include "tests/fuzz/FuzzSupport.h"

using Veltora::Fuzzing::fuzzCheck;
using Veltora::Platform::FileVersion;

namespace
{
Veltora::Fuzzing::MemoryFile& imageFile()
{
    static Veltora::Fuzzing::MemoryFile file;
    return file;
}

bool sameVersion(const FileVersion& left, const FileVersion& right)
{
    return left.major == right.major && left.minor == right.minor && left.build == right.build &&
           left.revision == right.revision;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    imageFile().replaceContent(data, size);
    const FileVersion untouched{0xDEAD, 0xBEEF, 0xCAFE, 0xF00D};
    FileVersion version = untouched;
    const bool found = Veltora::Platform::readFixedFileVersion(imageFile().path(), version);
    if (!found)
        fuzzCheck(sameVersion(version, untouched), "a file without a version leaves it unset");
    // Bytes that are not an image at all never have a version.
    if (size < 2 || data[0] != 'M' || data[1] != 'Z')
        fuzzCheck(!found, "only an MZ image has a version");
    FileVersion again;
    fuzzCheck(Veltora::Platform::readFixedFileVersion(imageFile().path(), again) == found &&
                  (!found || sameVersion(again, version)),
              "reading the same file twice gives the same answer");
    return 0;
}
