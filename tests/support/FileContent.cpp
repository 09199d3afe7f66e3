#include "tests/support/FileContent.h"

#include <boost/filesystem/fstream.hpp>

#include <sstream>

namespace Veltora::Testing
{

std::string readFile(const boost::filesystem::path& file)
{
    boost::filesystem::ifstream input(file, std::ios::binary);
    std::ostringstream content;
    content << input.rdbuf();
    return content.str();
}

void writeFile(const boost::filesystem::path& file, const std::string& content)
{
    boost::filesystem::ofstream output(file, std::ios::binary | std::ios::trunc);
    output << content;
}

} // namespace Veltora::Testing
