#include "tests/support/TestRegistry.h"

#include <windows.h>

#include <stdexcept>

namespace Veltora::Testing
{
namespace
{
HKEY rootKey(TestRegistry::Root root)
{
    return root == TestRegistry::Root::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring wide(const std::string& text)
{
    return boost::filesystem::path(text).wstring();
}

void setValue(const TestRegistry::Value& value)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(rootKey(value.root), wide(value.key).c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS)
    {
        const std::wstring name = wide(value.name);
        if (value.type == TestRegistry::Type::Number)
        {
            const DWORD number = static_cast<DWORD>(std::stoul(value.data));
            status = RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&number), sizeof(number));
        }
        else
        {
            const std::wstring data = wide(value.data);
            status =
                RegSetValueExW(key, name.c_str(), 0,
                               value.type == TestRegistry::Type::String ? REG_SZ : REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("cannot set the registry value " + value.key + "\\" + value.name +
                                 ": error " + std::to_string(status));
}

bool isEmptyKey(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD subKeys = 0;
    DWORD values = 0;
    const bool queried =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return queried && subKeys == 0 && values == 0;
}

// Removes the key with all below it, then those of its parents that it leaves empty, up to
// the top-level key (such as "Software"), which stays.
void removeKey(HKEY root, std::wstring path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
    for (auto separator = path.rfind(L'\\'); separator != std::wstring::npos;
         separator = path.rfind(L'\\'))
    {
        path.resize(separator);
        if (path.find(L'\\') == std::wstring::npos || !isEmptyKey(root, path) ||
            RegDeleteKeyW(root, path.c_str()) != ERROR_SUCCESS)
            break;
    }
}
} // namespace

TestRegistry::TestRegistry(const boost::filesystem::path&, const std::vector<Value>& values)
{
    try
    {
        for (const Value& value : values)
        {
            written.push_back(value);
            setValue(value);
        }
    }
    catch (...)
    {
        removeWritten();
        throw;
    }
}

TestRegistry::~TestRegistry()
{
    removeWritten();
}

void TestRegistry::removeWritten()
{
    for (const Value& value : written)
        removeKey(rootKey(value.root), wide(value.key));
    written.clear();
}

} // namespace Veltora::Testing
