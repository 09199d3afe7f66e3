#include "tests/e2e/Screen.h"

#include "tests/support/ChildProcess.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <memory>
#include <sstream>
#include <utility>

// Last: Xlib defines macros (None, Status, ...) that clash with names in other headers.
#include <X11/Xlib.h>

namespace Veltora::Testing
{

namespace
{
constexpr std::chrono::seconds toolTimeout(20);

std::string cropOf(const WindowGeometry& area)
{
    return std::to_string(area.width) + "x" + std::to_string(area.height) + "+" +
           std::to_string(area.x) + "+" + std::to_string(area.y);
}

struct DisplayClose
{
    void operator()(::Display* connection) const { XCloseDisplay(connection); }
};

std::string uniqueName(const std::string& stem)
{
    static std::atomic<int> counter{0};
    return stem + "-" + std::to_string(++counter);
}
} // namespace

std::uint32_t ScreenImage::pixel(int x, int y) const
{
    const std::size_t offset = (static_cast<std::size_t>(y) * width + x) * 3;
    return (std::uint32_t{rgb[offset]} << 16) | (std::uint32_t{rgb[offset + 1]} << 8) |
           rgb[offset + 2];
}

// A desktop session's X server knows the names of the window manager's close protocol, and
// JUCE offers that protocol on its windows only when the names exist; a bare Xvfb has
// never heard of them, so they are made known before any window is created.
Screen::Screen(std::string displayName, boost::filesystem::path scratchFolder)
    : display(std::move(displayName)), scratch(std::move(scratchFolder))
{
    boost::filesystem::create_directories(scratch);
    const std::unique_ptr<::Display, DisplayClose> connection(XOpenDisplay(display.c_str()));
    if (!connection)
        return;
    XInternAtom(connection.get(), "WM_PROTOCOLS", False);
    XInternAtom(connection.get(), "WM_DELETE_WINDOW", False);
    XSync(connection.get(), False);
}

std::optional<std::string> Screen::run(const std::string& program,
                                       const std::vector<std::string>& arguments) const
{
    ChildProcess::Options options;
    options.environment["DISPLAY"] = display;
    options.outputFile = scratch / uniqueName(program + ".out");
    const Completed completed = runToEnd(program, arguments, options, toolTimeout);
    if (completed.status != 0)
        return std::nullopt;
    return completed.output;
}

std::optional<std::string> Screen::visibleWindow(const std::string& title) const
{
    const auto found = run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
    if (!found || found->empty())
        return std::nullopt;
    return found->substr(0, found->find('\n'));
}

std::optional<WindowGeometry> Screen::geometry(const std::string& window) const
{
    const auto shell = run("xdotool", {"getwindowgeometry", "--shell", window});
    if (!shell)
        return std::nullopt;
    WindowGeometry result;
    std::istringstream lines(*shell);
    std::string line;
    int found = 0;
    while (std::getline(lines, line))
    {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = line.substr(0, equals);
        const int value = std::stoi(line.substr(equals + 1));
        for (auto [key, field] : {std::pair<const char*, int*>{"X", &result.x},
                                  {"Y", &result.y},
                                  {"WIDTH", &result.width},
                                  {"HEIGHT", &result.height}})
            if (name == key)
            {
                *field = value;
                ++found;
            }
    }
    if (found != 4)
        return std::nullopt;
    return result;
}

std::optional<ScreenImage> Screen::capture(const WindowGeometry& area) const
{
    const boost::filesystem::path file = scratch / uniqueName("grab.rgb");
    if (!run("import", {"-silent", "-window", "root", "-crop", cropOf(area), "-depth", "8",
                        "rgb:" + file.string()}))
        return std::nullopt;
    ScreenImage image;
    image.width = area.width;
    image.height = area.height;
    image.rgb.resize(static_cast<std::size_t>(area.width) * area.height * 3);
    boost::filesystem::ifstream input(file, std::ios::binary);
    if (!input.read(reinterpret_cast<char*>(image.rgb.data()),
                    static_cast<std::streamsize>(image.rgb.size())))
        return std::nullopt;
    return image;
}

bool Screen::saveAsPng(const WindowGeometry& area, const boost::filesystem::path& file) const
{
    return run("import",
               {"-silent", "-window", "root", "-crop", cropOf(area), "png:" + file.string()})
        .has_value();
}

bool Screen::click(int x, int y) const
{
    return run("xdotool",
               {"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"})
        .has_value();
}

bool Screen::askToClose(const std::string& window) const
{
    const std::unique_ptr<::Display, DisplayClose> connection(XOpenDisplay(display.c_str()));
    if (!connection)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = std::stoul(window);
    event.xclient.message_type = XInternAtom(connection.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] =
        static_cast<long>(XInternAtom(connection.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent =
        XSendEvent(connection.get(), event.xclient.window, False, NoEventMask, &event) != 0;
    XSync(connection.get(), False);
    return sent;
}

} // namespace Veltora::Testing
