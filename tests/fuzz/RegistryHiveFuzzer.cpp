// The reader of Wine's registry hive files, given the fuzzer's bytes as both hives of a
// private prefix, asked for a string value, a default value and a value of the classes
// root. Both hive names link to one memory file, so no input touches the disk.

#include "platform/Platform.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace Veltora::Platform;
using Veltora::Fuzzing::fuzzCheck;

namespace
{
// Whatever the hive holds, a value fits the registry's buffer and ends at its first NUL.
void checkLookup(RegistryRoot root, const std::u16string& key, const std::u16string& name)
{
    std::string value = "untouched";
    if (!readRegistryValue(root, key, name, value))
    {
        fuzzCheck(value == "untouched", "a failed lookup leaves the value as it was");
        return;
    }
    fuzzCheck(value.size() <= 2047, "a value fits the 2048-byte buffer");
    fuzzCheck(value.find('\0') == std::string::npos, "a value ends at its first NUL");
}

Veltora::Fuzzing::MemoryFile& hiveFile()
{
    static Veltora::Fuzzing::MemoryFile file;
    return file;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string& prefix = Veltora::Fuzzing::privateFolder();
    for (const char* name : {"/system.reg", "/user.reg"})
        fuzzCheck(symlink(hiveFile().path().c_str(), (prefix + name).c_str()) == 0,
                  "the hive names can be linked to the memory file");
    setenv("WINEPREFIX", prefix.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    hiveFile().replaceContent(data, size);
    checkLookup(RegistryRoot::LocalMachine, u"Software\\Vendor\\Product", u"InstallDir");
    checkLookup(RegistryRoot::CurrentUser, u"Software\\Vendor\\Product", u"");
    checkLookup(RegistryRoot::ClassesRoot, u".vproj", u"");
    return 0;
}
