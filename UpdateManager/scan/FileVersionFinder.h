#pragma once

#include "UpdateManager/scan/VersionFinder.h"

#include <boost/filesystem/path.hpp>

#include <string>

namespace Veltora::UpdateManager
{

// A "file" scan rule: the product is installed when the file exists, and its version is
// the file version in the file's version resource.
class FileVersionFinder : public VersionFinder
{
public:
    // `pathText` may start with a folder placeholder; it is expanded here, once.
    explicit FileVersionFinder(const std::string& pathText);

    const boost::filesystem::path& filePath() const { return path; }

    bool find(std::string& version, bool& found) const override;

private:
    boost::filesystem::path path;
};

// Whether `file` is there (`found`; a file that cannot be examined counts as absent) and,
// when it is, whether its version could be read into `version` (the result).
bool findFileVersion(const boost::filesystem::path& file, std::string& version, bool& found);

// The file version of `file` as "a.b.c.d"; the first two numbers keep only their low
// 8 bits. False, with `version` untouched, when the file has no readable version resource.
bool readFileVersion(const std::string& file, std::string& version);

} // namespace Veltora::UpdateManager
