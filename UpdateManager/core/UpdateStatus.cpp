#include "UpdateManager/core/UpdateStatus.h"

#include <array>

namespace Veltora::UpdateManager
{

std::string statusToString(int status)
{
    static const std::array<const char*, 12> texts = {"unknown",
                                                      "up-to-date",
                                                      "update needed",
                                                      "download in progress",
                                                      "download paused",
                                                      "download error",
                                                      "installer available",
                                                      "installer start",
                                                      "install in progress",
                                                      "install complete",
                                                      "latest update doesn't support this OS",
                                                      "error"};
    if (status < 0 || status >= static_cast<int>(texts.size()))
        return "<error state unknown>";
    return texts[static_cast<std::size_t>(status)];
}

} // namespace Veltora::UpdateManager
