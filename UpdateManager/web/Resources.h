#pragma once

#include "log/CSingleton.h"

#include <string>

namespace Veltora
{

// Process-wide holder of the folder for local copies of server files (release notes).
// Nothing sets it, so it stays empty and such files go below the current directory.
class Resources : public CSingleton<Resources>
{
public:
    // A copy of the folder; logs an error in category "description" while it is empty.
    std::string folder() const;

private:
    std::string resourcesFolder;
};

} // namespace Veltora
