#include "tests/support/JsonTree.h"

#include "tests/support/FileContent.h"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

namespace Veltora::Testing
{

boost::property_tree::ptree parseJson(const std::string& text)
{
    std::istringstream in(text);
    boost::property_tree::ptree tree;
    boost::property_tree::read_json(in, tree);
    return tree;
}

boost::property_tree::ptree readJsonFile(const boost::filesystem::path& file)
{
    return parseJson(readFile(file));
}

} // namespace Veltora::Testing
