#pragma once

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Veltora::Testing
{

// A screen grab: 8-bit RGB pixels, row by row.
struct ScreenImage
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    // 0xRRGGBB of the pixel at (x, y) of the image.
    std::uint32_t pixel(int x, int y) const;
};

struct WindowGeometry
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Looks at and acts on an X display through the real tools a user's session would have:
// xdotool for windows and input, ImageMagick's import for screen grabs, and Xlib for what a
// window manager would send.
class Screen
{
public:
    // `scratch` is a folder for the tools' output files. The display's server gets to know
    // the names a window manager uses, as in a desktop session.
    Screen(std::string display, boost::filesystem::path scratch);

    // The id of the mapped window whose title is exactly `title`, if there is one.
    std::optional<std::string> visibleWindow(const std::string& title) const;
    std::optional<WindowGeometry> geometry(const std::string& window) const;
    // The pixels of a screen area, or nothing when the grab failed.
    std::optional<ScreenImage> capture(const WindowGeometry& area) const;
    // Writes the area as a PNG file.
    bool saveAsPng(const WindowGeometry& area, const boost::filesystem::path& file) const;
    // Moves the pointer to (x, y) of the screen and presses and releases button 1 there.
    bool click(int x, int y) const;
    // Asks the window to close, as a window manager does when the user clicks the title
    // bar's close button (WM_DELETE_WINDOW); false when the request could not be sent.
    bool askToClose(const std::string& window) const;

private:
    std::optional<std::string> run(const std::string& program,
                                   const std::vector<std::string>& arguments) const;

    std::string display;
    boost::filesystem::path scratch;
};

} // namespace Veltora::Testing
