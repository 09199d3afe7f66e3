#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/property_tree/ptree.hpp>

#include <string>

namespace Veltora::Testing
{

// JSON text read into a property tree, the form the updater's code takes it in; throws
// boost::property_tree::json_parser_error when it is not JSON.
boost::property_tree::ptree parseJson(const std::string& text);

// The same for a file's content.
boost::property_tree::ptree readJsonFile(const boost::filesystem::path& file);

} // namespace Veltora::Testing
