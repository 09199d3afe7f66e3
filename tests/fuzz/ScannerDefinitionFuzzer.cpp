// The scanner definition file: loaded by the scanner, then every product it names scanned
// (which expands the rules' path placeholders) in a private, empty home and Wine prefix.

#include "UpdateManager/scan/Scanner.h"
#include "UpdateManager/scan/Versions.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdlib>

using namespace Veltora::UpdateManager;
using Veltora::Fuzzing::fuzzCheck;

namespace
{
Veltora::Fuzzing::MemoryFile& definitionFile()
{
    static Veltora::Fuzzing::MemoryFile file;
    return file;
}

bool isVersionResult(const std::string& version)
{
    return version == notInstalledVersion || version == unknownVersion ||
           packVersion(version) != 0 || version.find('.') != std::string::npos;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string& folder = Veltora::Fuzzing::privateFolder();
    setenv("HOME", folder.c_str(), 1);
    setenv("WINEPREFIX", folder.c_str(), 1);
    unsetenv("XDG_DOWNLOAD_DIR");
    unsetenv("XDG_CONFIG_HOME");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    definitionFile().replaceContent(data, size);
    const Scanner scanner(definitionFile().path());
    for (const auto& [key, version] : scanner.completeScan())
    {
        fuzzCheck(scanner.findersOf(key.sku) != nullptr, "a scanned product has its finders");
        fuzzCheck(isVersionResult(version), "a scan gives a version text or a fixed word");
    }
    return 0;
}
