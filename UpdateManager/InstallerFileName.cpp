#include "UpdateManager/InstallerFileName.h"

namespace Veltora::UpdateManager
{

namespace
{
// A NUL byte would end the name where the operating system reads it, so that the
// installer and its confirm file ("<name>.confirm") would be the same file.
bool isPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}
} // namespace

std::string installerFileName(const std::string& url)
{
    const std::size_t slash = url.rfind('/');
    const std::string name = slash == std::string::npos ? url : url.substr(slash + 1);
    return isPlainFileName(name) ? name : std::string();
}

} // namespace Veltora::UpdateManager
