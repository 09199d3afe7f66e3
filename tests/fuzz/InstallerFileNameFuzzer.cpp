// The rule that takes the installer's file name from its address: the name is empty or
// one plain name that the file system reads as written, never a path.

#include "UpdateManager/InstallerFileName.h"
#include "tests/fuzz/FuzzSupport.h"

#include <boost/filesystem/path.hpp>

using Veltora::Fuzzing::fuzzCheck;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string address = Veltora::Fuzzing::textOf(data, size);
    const std::string name = Veltora::UpdateManager::installerFileName(address);
    if (name.empty())
        return 0;
    fuzzCheck(name != "." && name != "..", "the name is not a folder reference");
    fuzzCheck(name.find_first_of(std::string("/\\\0", 3)) == std::string::npos,
              "the name holds no separator and no NUL");
    fuzzCheck(address.size() >= name.size() &&
                  address.compare(address.size() - name.size(), name.size(), name) == 0,
              "the name is the end of the address");
    const boost::filesystem::path inFolder = boost::filesystem::path("Downloads") / name;
    fuzzCheck(inFolder.parent_path() == "Downloads" && inFolder.filename() == name,
              "joined to a folder the name stays directly inside it");
    return 0;
}
