// Clicks into a window of the Wine session at a point of its client area, for the
// end-to-end run of updater.exe under Wine (the X server cannot tell where Wine's own
// window frame ends):
//
//     window_click TITLE X Y
//
// Exit status 0 when the window was found and the click sent, 2 when no visible window has
// that title, 1 on a wrong command line.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace
{
std::wstring wideOf(const char* text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 1;
    const HWND window = FindWindowW(nullptr, wideOf(argv[1]).c_str());
    if (window == nullptr || !IsWindowVisible(window))
        return 2;
    const LPARAM point = MAKELPARAM(std::atoi(argv[2]), std::atoi(argv[3]));
    PostMessageW(window, WM_MOUSEMOVE, 0, point);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(window, WM_LBUTTONUP, 0, point);
    return 0;
}
