#include "UpdateManager/install/ConfirmFile.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <fstream>
#include <sstream>

namespace Veltora::UpdateManager
{

using boost::property_tree::json_parser_error;

std::string confirmFileText(const ConfirmRecord& record)
{
    boost::property_tree::ptree tree;
    tree.put("size", record.size);
    tree.put("checksum", record.checksum);
    if (!record.sha256.empty())
        tree.put("sha256", record.sha256);
    std::ostringstream text;
    boost::property_tree::write_json(text, tree, true);
    return text.str();
}

ConfirmRecord parseConfirmFile(const std::string& text, const std::string& fileName)
{
    std::istringstream stream(text);
    boost::property_tree::ptree tree;
    try
    {
        boost::property_tree::read_json(stream, tree);
    }
    catch (const json_parser_error& error)
    {
        throw json_parser_error(error.message(), fileName, error.line());
    }
    return ConfirmRecord{tree.get<std::int64_t>("size", 0), tree.get<std::string>("checksum", ""),
                         tree.get<std::string>("sha256", "")};
}

ConfirmRecord loadConfirmFile(const std::string& fileName)
{
    std::ifstream file(fileName);
    if (!file)
        throw json_parser_error("cannot open file", fileName, 0);
    std::ostringstream text;
    text << file.rdbuf();
    return parseConfirmFile(text.str(), fileName);
}

void saveConfirmFile(const std::string& fileName, const ConfirmRecord& record)
{
    const std::string text = confirmFileText(record);
    std::ofstream file(fileName);
    if (!file)
        throw json_parser_error("cannot open file", fileName, 0);
    file << text;
    if (!file.good())
        throw json_parser_error("write error", fileName, 0);
}

} // namespace Veltora::UpdateManager
