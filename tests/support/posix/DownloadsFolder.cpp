#include "tests/support/DownloadsFolder.h"

namespace Veltora::Testing
{

void useDownloadsFolderForProcess(const boost::filesystem::path& folder)
{
    ScopedEnvironment::setForProcess("XDG_DOWNLOAD_DIR", folder.string());
}

bool hideDownloadsFolder(ScopedEnvironment& environment)
{
    for (const char* name : {"HOME", "XDG_DOWNLOAD_DIR", "XDG_CONFIG_HOME"})
        environment.set(name, std::nullopt);
    return true;
}

} // namespace Veltora::Testing
