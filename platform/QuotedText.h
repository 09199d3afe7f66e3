#pragma once

#include <string>

namespace Veltora::Platform
{

// Relaunch and installer arguments are stored wrapped in double quotes, as the Windows C
// run time needs them. This gives the text inside: one leading quote removed if present,
// then one trailing quote removed if present.
inline std::string withoutOuterQuotes(std::string text)
{
    if (!text.empty() && text.front() == '"')
        text.erase(0, 1);
    if (!text.empty() && text.back() == '"')
        text.pop_back();
    return text;
}

} // namespace Veltora::Platform
