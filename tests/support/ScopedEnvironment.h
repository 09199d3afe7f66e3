#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Veltora::Testing
{

// Sets (or, with no value, removes) environment variables of this process and puts the
// old values back when it goes away.
class ScopedEnvironment
{
public:
    void set(const std::string& name, const std::optional<std::string>& value)
    {
        const char* old = std::getenv(name.c_str());
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        apply(name, value);
    }
    ~ScopedEnvironment()
    {
        for (auto entry = saved.rbegin(); entry != saved.rend(); ++entry)
            apply(entry->first, entry->second);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value)
    {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

} // namespace Veltora::Testing
