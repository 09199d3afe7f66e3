#include "UpdateManager/install/ConfirmFile.h"

#include "UpdateManager/core/BoundedJson.h"

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

// The file lies in the Downloads folder, where anything may have replaced it: it is read
// within the JSON bounds, so that a huge or deeply nested file is refused instead of
// taking the memory or the stack.
ConfirmRecord parseConfirmFile(const std::string& text, const std::string& fileName)
{
    boost::property_tree::ptree tree;
    readBoundedJson(text, tree, fileName);
    return ConfirmRecord{tree.get<std::int64_t>("size", 0), tree.get<std::string>("checksum", ""),
                         tree.get<std::string>("sha256", "")};
}

ConfirmRecord loadConfirmFile(const std::string& fileName)
{
    std::ifstream file(fileName);
    if (!file)
        throw json_parser_error("cannot open file", fileName, 0);
    // One byte beyond the bounds is enough for the bounds check to refuse a huge file.
    std::string text(JsonBounds{}.maxBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad())
        throw json_parser_error("cannot read file", fileName, 0);
    text.resize(static_cast<std::size_t>(file.gcount()));
    return parseConfirmFile(text, fileName);
}

void saveConfirmFile(const std::string& fileName, const ConfirmRecord& record)
{
    const std::string text = confirmFileText(record);
    // The same bytes on every system: no "\r\n" for the line ends on Windows.
    std::ofstream file(fileName, std::ios::binary);
    if (!file)
        throw json_parser_error("cannot open file", fileName, 0);
    file << text;
    if (!file.good())
        throw json_parser_error("write error", fileName, 0);
}

} // namespace Veltora::UpdateManager
