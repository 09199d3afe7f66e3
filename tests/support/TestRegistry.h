#pragma once

#include "tests/support/ScopedEnvironment.h"

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace Veltora::Testing
{

// Registry values for the tests of the registry finders, put where the platform layer reads
// them: on Windows into the registry itself, removed again when the object goes; elsewhere
// into the hives (system.reg, user.reg) of a Wine prefix in `prefixFolder`, which WINEPREFIX
// names while the object lives. Throws std::runtime_error when a value cannot be set (on
// Windows, a user without the right to change HKEY_LOCAL_MACHINE).
class TestRegistry
{
public:
    enum class Root
    {
        LocalMachine,
        CurrentUser
    };
    enum class Type
    {
        String,
        ExpandableString,
        Number
    };
    struct Value
    {
        Root root;
        std::string key;  // below the root, parts separated by backslashes
        std::string name; // empty: the key's default value
        Type type;
        std::string data; // a number in decimal
    };

    TestRegistry(const boost::filesystem::path& prefixFolder, const std::vector<Value>& values);
    ~TestRegistry();
    TestRegistry(const TestRegistry&) = delete;
    TestRegistry& operator=(const TestRegistry&) = delete;

private:
    void removeWritten(); // Windows

    ScopedEnvironment environment; // POSIX systems: WINEPREFIX
    std::vector<Value> written;    // Windows
};

} // namespace Veltora::Testing
