// _putenv_s changes the C run time's copy of the environment, which getenv reads, and the
// system's, which child processes inherit; an empty value removes the variable. An empty
// but present value cannot be expressed on Windows.
#include "tests/support/ScopedEnvironment.h"

#include <cstdlib>
#include <stdexcept>

namespace Veltora::Testing
{

void ScopedEnvironment::setForProcess(const std::string& name,
                                      const std::optional<std::string>& value)
{
    if (_putenv_s(name.c_str(), value ? value->c_str() : "") != 0)
        throw std::runtime_error("cannot set the environment variable " + name);
}

} // namespace Veltora::Testing
