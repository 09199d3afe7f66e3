#include "tests/support/ScopedEnvironment.h"

#include <cstdlib>

namespace Veltora::Testing
{

void ScopedEnvironment::set(const std::string& name, const std::optional<std::string>& value)
{
    const char* old = std::getenv(name.c_str());
    saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setForProcess(name, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto entry = saved.rbegin(); entry != saved.rend(); ++entry)
        setForProcess(entry->first, entry->second);
}

} // namespace Veltora::Testing
