#include "UpdateManager/core/BoundedJson.h"
#include "UpdateManager/scan/FileVersionFinder.h"
#include "UpdateManager/scan/RegKeyVersionFinder.h"
#include "UpdateManager/scan/Scanner.h"
#include "log/CLog.h"
#include "log/LogCategory.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <fstream>

namespace Veltora::UpdateManager
{
namespace
{
using boost::property_tree::ptree;
using boost::property_tree::json_parser::json_parser_error;

// The file read in text mode, but never more than one byte beyond what the JSON bounds
// accept, so that a huge file is refused without being read whole. A path that opens but
// cannot be read (a folder) makes the stream library throw; that is a read failure like
// any other.
std::string readText(const std::string& fileName, std::size_t limit)
{
    std::ifstream file(fileName);
    if (!file)
        throw json_parser_error("cannot open file", fileName, 0);
    try
    {
        std::string text(limit + 1, '\0');
        file.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(file.gcount()));
        if (file.bad())
            throw json_parser_error("cannot read file", fileName, 0);
        return text;
    }
    catch (const std::ios_base::failure&)
    {
        throw json_parser_error("cannot read file", fileName, 0);
    }
}

// Opens the file in text mode and parses it within the JSON bounds; every failure is a
// json_parser_error that names the file.
ptree parseDefinition(const boost::filesystem::path& definitionFile)
{
    const std::string fileName = definitionFile.string();
    const JsonBounds bounds;
    ptree tree;
    readBoundedJson(readText(fileName, bounds.maxBytes), tree, fileName, bounds);
    return tree;
}

// False when the path names nothing; a file-system error while asking counts the same.
bool definitionExists(const boost::filesystem::path& definitionFile, bool& reportMissing)
{
    try
    {
        reportMissing = !boost::filesystem::exists(definitionFile);
        return !reportMissing;
    }
    catch (const boost::filesystem::filesystem_error&)
    {
        reportMissing = false;
        return false;
    }
}

// Rule texts are widened one byte per character; definitions write them in ASCII.
std::u16string widened(const std::string& text)
{
    std::u16string wide;
    for (const char character : text)
        wide += static_cast<char16_t>(static_cast<unsigned char>(character));
    return wide;
}

std::unique_ptr<VersionFinder> regKeyFinder(const std::string& kind, const ptree& items)
{
    if (items.size() != 2 && items.size() != 3)
    {
        CLog::getInstance()->log(LogCategory::updateManager, LogWarning,
                                 "Missing a string in RegkeyVersionFinder definition in json '",
                                 kind, "'");
        return nullptr;
    }
    auto item = items.begin();
    const std::string keyAndValue = (item++)->second.data();
    const std::string fileName = (item++)->second.data();
    const std::string subFolder = item != items.end() ? item->second.data() : std::string();
    return std::make_unique<RegKeyVersionFinder>(widened(keyAndValue), widened(fileName),
                                                 widened(subFolder));
}

std::unique_ptr<VersionFinder> finderForRule(const std::string& kind, const ptree& parameters)
{
    if (kind == "file")
        return std::make_unique<FileVersionFinder>(parameters.data());
    if (kind == "regkey")
        return regKeyFinder(kind, parameters);
    return nullptr;
}
} // namespace

bool Scanner::loadDefinition(const boost::filesystem::path& definitionFile)
{
    bool reportMissing = false;
    if (!definitionFile.empty() && !definitionExists(definitionFile, reportMissing))
    {
        if (reportMissing)
            CLog::getInstance()->log(
                LogCategory::updateManager, LogWarning,
                "Could not find scanner definition file: ", definitionFile.string());
        return false;
    }
    ptree definition;
    try
    {
        definition = parseDefinition(definitionFile);
    }
    catch (const json_parser_error& error)
    {
        CLog::getInstance()->log(LogCategory::updateManager, LogError,
                                 " Caught exception while parsing json file ",
                                 definitionFile.string(), ": ", error.what());
        return false;
    }
    const ptree* products = nullptr;
    try
    {
        products = &definition.get_child("scanner");
    }
    catch (const boost::property_tree::ptree_error& error)
    {
        CLog::getInstance()->log(
            LogCategory::updateManager, LogError,
            "'scanner' node not found in scanner definition file: ", error.what());
        return true;
    }
    for (const ptree::value_type& product : *products)
    {
        std::string name;
        try
        {
            name = product.second.get<std::string>("name");
            const std::string sku = product.second.get<std::string>("sku");
            addRules(sku, product.second.get_child("rules"));
        }
        catch (const boost::property_tree::ptree_error& error)
        {
            CLog::getInstance()->log(LogCategory::updateManager, LogWarning,
                                     "Bad scanner definition for product '", name,
                                     "': ", error.what());
        }
    }
    return true;
}

void Scanner::addRules(const std::string& sku, const ptree& rules)
{
    for (const ptree::value_type& rule : rules)
    {
        if (rule.second.empty())
            continue;
        const auto& [kind, parameters] = rule.second.front();
        std::unique_ptr<VersionFinder> finder = finderForRule(kind, parameters);
        if (finder)
            finderSets[sku].add(std::move(finder));
        else
            CLog::getInstance()->log(LogCategory::updateManager, LogWarning,
                                     "Could not add Unknown Rule '", kind, "'");
    }
    const std::size_t count = finderSets[sku].members().size();
    CLog::getInstance()->log(LogCategory::updateManager, LogInfo, count, " scan rules to find ",
                             sku);
}

} // namespace Veltora::UpdateManager
