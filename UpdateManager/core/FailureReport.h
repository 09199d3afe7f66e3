#pragma once

#include <string>

namespace Veltora::UpdateManager
{

// Why a run failed, in plain words that name the thing concerned ("cannot reach
// http://host:80: Connection refused", "installer /x/Setup.exe ended with status 3").
// Only the first cause is kept: what goes wrong later usually follows from it. The
// update manager and the window fill it as they meet failures; the updater prints it
// when a run ends with a non-zero status. Addresses in a cause have their credentials
// masked by whoever notes it.
class FailureReport
{
public:
    // Keeps `cause` unless a cause is kept already; an empty text is not a cause.
    void note(const std::string& cause);
    bool hasCause() const { return !firstCause.empty(); }
    // The first cause noted; empty when there was none.
    const std::string& cause() const { return firstCause; }

private:
    std::string firstCause;
};

} // namespace Veltora::UpdateManager
