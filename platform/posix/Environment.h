#pragma once

#include <optional>
#include <string>

namespace Veltora::Platform
{

// The value of an environment variable; none when it is unset or empty, since an empty
// folder setting means the same as no setting.
std::optional<std::string> environmentValue(const char* name);

} // namespace Veltora::Platform
