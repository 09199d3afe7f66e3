#pragma once

#include <string>
#include <sys/types.h>

namespace Veltora::Testing
{

// A private X server (Xvfb, 1024x768, 24 bits) for one test process. The constructor
// returns once the server accepts clients; the destructor stops it.
class XvfbDisplay
{
public:
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // The DISPLAY value, e.g. ":42".
    const std::string& name() const { return displayName; }

    static constexpr int screenWidth = 1024;
    static constexpr int screenHeight = 768;

private:
    pid_t processId = -1;
    std::string displayName;
};

} // namespace Veltora::Testing
