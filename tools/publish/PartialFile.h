#pragma once

#include <boost/filesystem/path.hpp>

#include <string>

namespace Veltora::Publish
{

// A file of the release tree while it is written: it has a hidden name beside its target
// (".<name>.partial-XXXXXXXX"), which the documented web server never serves, and takes the
// target's name only once it is whole. Dropped before that, it is removed.
class PartialFile
{
public:
    explicit PartialFile(const boost::filesystem::path& target);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    const boost::filesystem::path& path() const { return partial; }
    // Renames the file onto its target, replacing it; throws std::runtime_error when it cannot.
    void renameOntoTarget();

private:
    boost::filesystem::path target;
    boost::filesystem::path partial;
    bool renamed = false;
};

// The text of a C library error number, for messages; "input/output error" for 0, which a
// failed stream may leave.
std::string systemErrorText(int error);

} // namespace Veltora::Publish
