// Version texts: packVersion, and the platform limits of a release description.

#include "UpdateManager/core/ProductDescription.h"
#include "UpdateManager/scan/Versions.h"
#include "tests/fuzz/FuzzSupport.h"

#include <stdexcept>

using namespace Veltora::UpdateManager;
using Veltora::Fuzzing::fuzzCheck;

namespace
{
std::string dottedText(std::uint64_t packed)
{
    return std::to_string(packed >> 48) + "." + std::to_string((packed >> 32) & 0xFFFF) + "." +
           std::to_string((packed >> 16) & 0xFFFF) + "." + std::to_string(packed & 0xFFFF);
}

// A version that packVersion accepts round-trips through its four-number text.
void checkPackedVersion(const std::string& version)
{
    const std::uint64_t packed = packVersion(version);
    if (packed == 0)
        return;
    const std::string canonical = dottedText(packed);
    fuzzCheck(packVersion(canonical) == packed, "a packed version round-trips through its text");
    fuzzCheck(version.find('.') != std::string::npos, "a packed version has at least two pieces");
}

void checkPlatformLimits(const std::string& minimum, const std::string& maximum)
{
    ProductDescription description;
    description.platformMinVersion = minimum;
    description.platformMaxVersion = maximum;
    try
    {
        description.isPlatformSupported();
    }
    catch (const std::invalid_argument&)
    {
        // A limit without digits: the state refresh makes the product OsNotSupported.
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> texts = Veltora::Fuzzing::textsSeparatedByNul(data, size);
    for (const std::string& text : texts)
        checkPackedVersion(text);
    checkPlatformLimits(texts[0], texts.size() > 1 ? texts[1] : std::string());
    return 0;
}
