#pragma once

#include <boost/filesystem.hpp>

namespace Veltora::Testing
{

// A fresh folder under the system's temporary folder, removed with everything in it when
// the object goes away.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const boost::filesystem::path& path() const { return root; }
    boost::filesystem::path operator/(const std::string& name) const { return root / name; }

private:
    boost::filesystem::path root;
};

} // namespace Veltora::Testing
