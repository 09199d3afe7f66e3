#pragma once

#include <string>

namespace Veltora::UpdateManager
{

// The installer's file name taken from its address: the part after the last "/" (the
// whole address when it has none). Empty when that part is not a plain file name (empty,
// "." or "..", or holding a path separator or a NUL byte), so the name can never lead out
// of the folder it is joined to.
std::string installerFileName(const std::string& url);

} // namespace Veltora::UpdateManager
