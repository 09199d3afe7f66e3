#pragma once

// What the child probe (tests/support/probe/ChildProbe.cpp) recorded about how it was
// started. A test gives the probe a record folder through CHILD_PROBE_RECORD_DIR in the
// environment of the process that starts it (directly or through the updater).

#include <boost/filesystem/path.hpp>

#include <optional>
#include <string>
#include <vector>

namespace Veltora::Testing
{

struct ChildProbeRecord
{
    std::vector<std::string> arguments; // argument 0 included, byte for byte
    std::string blockedSignals;         // the SigBlk mask of /proc/self/status, hexadecimal
    std::string ignoredSignals;         // the SigIgn mask
    std::vector<int> descriptors;       // open descriptors, in ascending order

    // No signal blocked or ignored, and only descriptors 0, 1 and 2 open.
    bool startedClean() const;
};

// The record a probe whose file name is `programName` wrote into `folder`; nothing when it
// has not (yet) written one.
std::optional<ChildProbeRecord> readChildProbeRecord(const boost::filesystem::path& folder,
                                                     const std::string& programName);

std::ostream& operator<<(std::ostream& out, const ChildProbeRecord& record);

} // namespace Veltora::Testing
