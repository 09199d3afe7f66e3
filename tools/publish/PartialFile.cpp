#include "tools/publish/PartialFile.h"

#include <boost/filesystem/operations.hpp>

#include <cstring>
#include <stdexcept>

namespace Veltora::Publish
{
namespace fs = boost::filesystem;

PartialFile::PartialFile(const fs::path& targetFile)
    : target(targetFile),
      partial(targetFile.parent_path() /
              fs::unique_path("." + targetFile.filename().string() + ".partial-%%%%%%%%"))
{
}

PartialFile::~PartialFile()
{
    boost::system::error_code ignored;
    if (!renamed)
        fs::remove(partial, ignored);
}

void PartialFile::renameOntoTarget()
{
    boost::system::error_code error;
    fs::rename(partial, target, error);
    if (error)
        throw std::runtime_error("cannot replace " + target.string() + ": " + error.message());
    renamed = true;
}

std::string systemErrorText(int error)
{
    return error != 0 ? std::strerror(error) : "input/output error";
}

} // namespace Veltora::Publish
