#include "platform/Platform.h"

#include <windows.h>

#include <climits>
#include <memory>

namespace Veltora::Platform
{
namespace
{
constexpr DWORD fixedFileInfoSignature = 0xFEEF04BD;

// Narrow paths are ANSI text here (as the known folders and the module path give them), so
// they are widened with the same code page. An embedded NUL would name another file.
bool widePath(const std::string& file, std::wstring& path)
{
    if (file.empty() || file.size() > INT_MAX || file.find('\0') != std::string::npos)
        return false;
    const int size = static_cast<int>(file.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, file.data(), size, nullptr, 0);
    if (length <= 0)
        return false;
    path.assign(static_cast<std::size_t>(length), L'\0');
    return MultiByteToWideChar(CP_ACP, 0, file.data(), size, path.data(), length) == length;
}

// The file's whole version information block; empty when the file has none.
std::unique_ptr<unsigned char[]> readVersionInformation(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return nullptr;
    auto block = std::make_unique<unsigned char[]>(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.get()))
        return nullptr;
    return block;
}

// The fixed file information of the root block "\".
const VS_FIXEDFILEINFO* fixedFileInfo(const unsigned char* block)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block, L"\\", &value, &length) || value == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return nullptr;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    return info->dwSignature == fixedFileInfoSignature ? info : nullptr;
}
} // namespace

bool readFixedFileVersion(const std::string& file, FileVersion& version)
{
    std::wstring path;
    if (!widePath(file, path))
        return false;
    const std::unique_ptr<unsigned char[]> block = readVersionInformation(path);
    if (!block)
        return false;
    const VS_FIXEDFILEINFO* info = fixedFileInfo(block.get());
    if (info == nullptr)
        return false;
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionMS);
    version.build = HIWORD(info->dwFileVersionLS);
    version.revision = LOWORD(info->dwFileVersionLS);
    return true;
}

} // namespace Veltora::Platform
