#include "tests/support/ChildProbeRecord.h"

#include <boost/filesystem/fstream.hpp>

#include <algorithm>
#include <ostream>

namespace Veltora::Testing
{

namespace
{
bool isZeroMask(const std::string& mask)
{
    return !mask.empty() && mask.find_first_not_of('0') == std::string::npos;
}

bool readArguments(std::istream& in, std::vector<std::string>& arguments)
{
    std::string word;
    std::size_t count = 0;
    if (!(in >> word >> count) || word != "arguments")
        return false;
    for (std::size_t index = 0; index < count; ++index)
    {
        std::size_t length = 0;
        if (!(in >> length) || in.get() != ' ')
            return false;
        std::string text(length, '\0');
        if (!in.read(text.data(), static_cast<std::streamsize>(length)) || in.get() != '\n')
            return false;
        arguments.push_back(text);
    }
    return true;
}
} // namespace

bool ChildProbeRecord::startedClean() const
{
    return isZeroMask(blockedSignals) && isZeroMask(ignoredSignals) &&
           descriptors == std::vector<int>{0, 1, 2};
}

std::optional<ChildProbeRecord> readChildProbeRecord(const boost::filesystem::path& folder,
                                                     const std::string& programName)
{
    boost::filesystem::ifstream in(folder / (programName + ".record"), std::ios::binary);
    ChildProbeRecord record;
    std::string word;
    if (!in || !readArguments(in, record.arguments) || !(in >> word >> record.blockedSignals) ||
        word != "blocked" || !(in >> word >> record.ignoredSignals) || word != "ignored" ||
        !(in >> word) || word != "descriptors")
        return std::nullopt;
    for (int descriptor = 0; in >> descriptor;)
        record.descriptors.push_back(descriptor);
    std::sort(record.descriptors.begin(), record.descriptors.end());
    return record;
}

std::ostream& operator<<(std::ostream& out, const ChildProbeRecord& record)
{
    out << "arguments:";
    for (const std::string& argument : record.arguments)
        out << " [" << argument << "]";
    out << "; blocked " << record.blockedSignals << "; ignored " << record.ignoredSignals
        << "; descriptors";
    for (const int descriptor : record.descriptors)
        out << ' ' << descriptor;
    return out;
}

} // namespace Veltora::Testing
