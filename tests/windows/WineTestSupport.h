#pragma once

#include "platform/Platform.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace Veltora::Testing
{

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class WindowsTempFolder
{
public:
    WindowsTempFolder()
    {
        const std::wstring name = L"veltora-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter()++);
        root = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(root);
    }
    ~WindowsTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    WindowsTempFolder(const WindowsTempFolder&) = delete;
    WindowsTempFolder& operator=(const WindowsTempFolder&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::wstring& name) const { return root / name; }

private:
    static int& counter()
    {
        static int next = 0;
        return next;
    }
    std::filesystem::path root;
};

// The narrow (ANSI code page) form of a path, as the platform layer takes and gives paths.
inline std::string ansiPath(const std::filesystem::path& path)
{
    const std::wstring wide = path.wstring();
    return Platform::narrowText(std::u16string(wide.begin(), wide.end()));
}

// Whether a UTF-16 text survives the trip to the ANSI code page and back.
inline bool ansiCodePageHolds(const std::wstring& text)
{
    const std::string narrow = Platform::narrowText(std::u16string(text.begin(), text.end()));
    const int length =
        MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    std::wstring back(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), back.data(),
                        length);
    return back == text;
}

// The directory of the running test program, where the helper programs are built too.
inline std::filesystem::path programFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

// The bytes of a file; empty when it cannot be read.
inline std::string contentOf(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Creates the file, or replaces its content, with exactly these bytes.
inline void writeFile(const std::filesystem::path& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace Veltora::Testing
