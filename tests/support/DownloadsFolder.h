#pragma once

#include "tests/support/ScopedEnvironment.h"

#include <boost/filesystem/path.hpp>

namespace Veltora::Testing
{

// Makes `folder` the Downloads folder that the platform layer reports to this process from
// now on (and to its children): through XDG_DOWNLOAD_DIR on POSIX systems, through the
// user's shell folder setting on Windows. Throws std::runtime_error when it cannot.
void useDownloadsFolderForProcess(const boost::filesystem::path& folder);

// Leaves the platform layer no Downloads folder to find while `environment` lives, where a
// test can arrange that (POSIX systems: no HOME and no XDG setting); false where it cannot
// (Windows always has one).
bool hideDownloadsFolder(ScopedEnvironment& environment);

} // namespace Veltora::Testing
