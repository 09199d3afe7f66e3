#include "platform/Platform.h"
#include "platform/windows/AnsiText.h"

#include <windows.h>

#include <memory>

namespace Veltora::Platform
{
namespace
{
constexpr DWORD fixedFileInfoSignature = 0xFEEF04BD;

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
    if (!Windows::toWidePath(file, path))
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
