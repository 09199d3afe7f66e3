#include "tests/support/ScopedEnvironment.h"

#include <cstdlib>
#include <stdexcept>

namespace Veltora::Testing
{

void ScopedEnvironment::setForProcess(const std::string& name,
                                      const std::optional<std::string>& value)
{
    const int result = value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    if (result != 0)
        throw std::runtime_error("cannot set the environment variable " + name);
}

} // namespace Veltora::Testing
