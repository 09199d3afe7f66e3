#pragma once

#include "platform/Platform.h"

#include <string>

namespace Veltora::UpdateManager
{

// The known folder as narrow text, without a trailing separator. False, with `path`
// untouched, when the folder cannot be determined; a folder whose path cannot be
// written as narrow text is also reported on standard output.
bool getKnownFolderPath(Platform::KnownFolder folder, std::string& path);

// Replaces a folder placeholder at the very start of `text` ("<pf86>", "<pf64>", "<data>",
// "<user>", exact case) by its known folder. Anything else, and a placeholder whose folder
// cannot be determined, leaves the text unchanged.
std::string expandPathPlaceholder(const std::string& text);

} // namespace Veltora::UpdateManager
