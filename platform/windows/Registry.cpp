#include "platform/Platform.h"

#include <windows.h>

#include <algorithm>
#include <array>

namespace Veltora::Platform
{
namespace
{
// The value buffer: 4096 bytes (2048 UTF-16 units); the narrow text must fit in 2048
// bytes with its terminator.
constexpr std::size_t valueBufferUnits = 2048;
constexpr std::size_t maxNarrowBytes = 2047;

HKEY rootKey(RegistryRoot root)
{
    switch (root)
    {
    case RegistryRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRoot::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser:
        break;
    }
    return HKEY_CURRENT_USER;
}

// A registry key opened for reading, closed on every path out.
class OpenKey
{
public:
    OpenKey(HKEY root, const std::wstring& subKey)
    {
        if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            key = nullptr;
    }
    ~OpenKey()
    {
        if (key != nullptr)
            RegCloseKey(key);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    bool isOpen() const { return key != nullptr; }
    HKEY handle() const { return key; }

private:
    HKEY key = nullptr;
};

// The UTF-16 text of a REG_SZ value: up to its first NUL and never past the bytes read.
// False for another type, a missing value, or one larger than the buffer.
bool queryStringValue(const OpenKey& key, const std::wstring& valueName, std::u16string& text)
{
    std::array<wchar_t, valueBufferUnits> buffer{};
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.handle(), valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    const std::size_t units = std::min<std::size_t>(size / sizeof(wchar_t), buffer.size());
    text.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(units));
    const std::size_t terminator = text.find(u'\0');
    if (terminator != std::u16string::npos)
        text.resize(terminator);
    return true;
}

// Names are read by the registry up to their first NUL; one inside would name another key.
bool toRegistryName(const std::u16string& name, std::wstring& wide)
{
    if (name.find(u'\0') != std::u16string::npos)
        return false;
    wide.assign(name.begin(), name.end());
    return true;
}
} // namespace

bool readRegistryValue(RegistryRoot root, const std::u16string& subKey,
                       const std::u16string& valueName, std::string& value)
{
    std::wstring wideSubKey;
    std::wstring wideValueName;
    if (!toRegistryName(subKey, wideSubKey) || !toRegistryName(valueName, wideValueName))
        return false;
    const OpenKey key(rootKey(root), wideSubKey);
    std::u16string text;
    if (!key.isOpen() || !queryStringValue(key, wideValueName, text))
        return false;
    const std::string narrow = narrowText(text);
    if (narrow.size() > maxNarrowBytes)
        return false;
    value = narrow;
    return true;
}

} // namespace Veltora::Platform
