#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Veltora::Testing
{

// Sets (or, with no value, removes) environment variables of this process and puts the
// old values back when it goes away. The C run time's getenv and the system's own
// environment both see the change.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::optional<std::string>& value);

    // Sets (or removes) a variable for the rest of the process; throws when it cannot.
    static void setForProcess(const std::string& name, const std::optional<std::string>& value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

} // namespace Veltora::Testing
