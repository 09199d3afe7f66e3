#include "platform/Platform.h"

namespace Veltora::Platform
{

std::vector<std::string> trustedRootCertificates()
{
    return {};
}

} // namespace Veltora::Platform
