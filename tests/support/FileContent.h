#pragma once

#include <boost/filesystem/path.hpp>

#include <string>

namespace Veltora::Testing
{

// The bytes of a file; empty when it cannot be read.
std::string readFile(const boost::filesystem::path& file);

// Creates the file, or replaces its content, with exactly these bytes.
void writeFile(const boost::filesystem::path& file, const std::string& content);

} // namespace Veltora::Testing
