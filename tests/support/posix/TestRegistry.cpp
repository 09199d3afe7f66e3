#include "tests/support/TestRegistry.h"

#include <boost/filesystem/fstream.hpp>

#include <cstdio>
#include <map>
#include <stdexcept>

namespace Veltora::Testing
{
namespace
{
// Backslashes and quotes are escaped in the names and strings of a hive file.
std::string escaped(const std::string& text)
{
    std::string result;
    for (const char character : text)
    {
        if (character == '\\' || character == '"')
            result += '\\';
        result += character;
    }
    return result;
}

std::string valueLine(const TestRegistry::Value& value)
{
    const std::string name = value.name.empty() ? "@" : "\"" + escaped(value.name) + "\"";
    switch (value.type)
    {
    case TestRegistry::Type::String:
        return name + "=\"" + escaped(value.data) + "\"";
    case TestRegistry::Type::ExpandableString:
        return name + "=str(2):\"" + escaped(value.data) + "\"";
    case TestRegistry::Type::Number:
        break;
    }
    char number[9];
    std::snprintf(number, sizeof(number), "%08lx", std::stoul(value.data));
    return name + "=dword:" + number;
}

// A hive as Wine writes it: a header, then each key in brackets with a time stamp and its
// values below it.
void writeHive(const boost::filesystem::path& file,
               const std::map<std::string, std::vector<std::string>>& keys)
{
    boost::filesystem::ofstream hive(file);
    hive << "WINE REGISTRY Version 2\n";
    for (const auto& [key, lines] : keys)
    {
        hive << "\n[" << escaped(key) << "] 1700000000\n";
        for (const std::string& line : lines)
            hive << line << "\n";
    }
    if (!hive.flush())
        throw std::runtime_error("cannot write " + file.string());
}
} // namespace

TestRegistry::TestRegistry(const boost::filesystem::path& prefixFolder,
                           const std::vector<Value>& values)
{
    std::map<std::string, std::vector<std::string>> machine;
    std::map<std::string, std::vector<std::string>> user;
    for (const Value& value : values)
        (value.root == Root::LocalMachine ? machine : user)[value.key].push_back(valueLine(value));
    writeHive(prefixFolder / "system.reg", machine);
    writeHive(prefixFolder / "user.reg", user);
    environment.set("WINEPREFIX", prefixFolder.string());
}

// The hives go with the test's folder.
TestRegistry::~TestRegistry() = default;

} // namespace Veltora::Testing
