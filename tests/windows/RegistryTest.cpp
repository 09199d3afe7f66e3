#include "platform/Platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using Veltora::Platform::narrowText;
using Veltora::Platform::readRegistryValue;
using Veltora::Platform::RegistryRoot;

namespace
{
struct Root
{
    const char* name;
    RegistryRoot root;
    HKEY key;
    std::wstring testKeyParent;
};

void PrintTo(const Root& testCase, std::ostream* out)
{
    *out << testCase.name;
}

const std::vector<Root> roots = {
    {"HKEY_CURRENT_USER", RegistryRoot::CurrentUser, HKEY_CURRENT_USER, L"Software\\"},
    {"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine, HKEY_LOCAL_MACHINE, L"Software\\"},
    {"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot, HKEY_CLASSES_ROOT, L""},
};

// A key of its own under one root, deleted with its values at the end.
class TestKey
{
public:
    explicit TestKey(const Root& root)
        : parent(root.key),
          name(root.testKeyParent + L"VeltoraUpdaterTest" + std::to_wstring(GetCurrentProcessId()))
    {
        if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            key = nullptr;
    }
    ~TestKey()
    {
        if (key == nullptr)
            return;
        RegCloseKey(key);
        RegDeleteTreeW(parent, name.c_str());
    }
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    bool created() const { return key != nullptr; }
    std::u16string subKey() const { return std::u16string(name.begin(), name.end()); }

    void setBytes(const wchar_t* value, DWORD type, const void* data, std::size_t size)
    {
        ASSERT_EQ(RegSetValueExW(key, value, 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
    }
    // The text's units, with the terminator when `terminated`.
    void setText(const wchar_t* value, DWORD type, const std::wstring& text, bool terminated = true)
    {
        setBytes(value, type, text.c_str(), (text.size() + (terminated ? 1 : 0)) * 2);
    }

private:
    HKEY parent;
    std::wstring name;
    HKEY key = nullptr;
};

std::optional<std::string> read(RegistryRoot root, const std::u16string& subKey,
                                const std::u16string& value)
{
    std::string text = "untouched";
    if (!readRegistryValue(root, subKey, value, text))
    {
        EXPECT_EQ(text, "untouched");
        return std::nullopt;
    }
    return text;
}

class RegistryStrings : public testing::TestWithParam<Root>
{
};
} // namespace

TEST_P(RegistryStrings, OnlyStringValuesAreRead)
{
    TestKey key(GetParam());
    if (!key.created())
        GTEST_SKIP() << "no write access to " << GetParam().name;
    const DWORD number = 42;
    const wchar_t multi[] = L"a\0b\0";
    const unsigned char binary[] = {1, 2, 3, 4};
    key.setText(L"InstallDir", REG_SZ, L"C:\\Apps\\My Product");
    key.setText(L"Empty", REG_SZ, L"");
    key.setText(L"", REG_SZ, L"the default value");
    key.setText(L"Expandable", REG_EXPAND_SZ, L"%ProgramFiles%\\Product");
    key.setBytes(L"Number", REG_DWORD, &number, sizeof(number));
    key.setBytes(L"Several", REG_MULTI_SZ, multi, sizeof(multi));
    key.setBytes(L"Binary", REG_BINARY, binary, sizeof(binary));

    const RegistryRoot root = GetParam().root;
    const std::u16string subKey = key.subKey();
    EXPECT_EQ(read(root, subKey, u"InstallDir"), "C:\\Apps\\My Product");
    EXPECT_EQ(read(root, subKey, u"installdir"), "C:\\Apps\\My Product");
    EXPECT_EQ(read(root, subKey, u"Empty"), "");
    EXPECT_EQ(read(root, subKey, u""), "the default value");
    for (const std::u16string& other :
         {std::u16string(u"Expandable"), std::u16string(u"Number"), std::u16string(u"Several"),
          std::u16string(u"Binary"), std::u16string(u"Missing"),
          std::u16string(u"InstallDir\0Binary", 17)})
        EXPECT_EQ(read(root, subKey, other), std::nullopt);
    EXPECT_EQ(read(root, subKey + u"\\Missing", u"InstallDir"), std::nullopt);
    EXPECT_EQ(read(root, subKey + std::u16string(1, u'\0') + u"x", u"InstallDir"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Roots, RegistryStrings, testing::ValuesIn(roots),
                         [](const testing::TestParamInfo<Root>& parameter)
                         { return std::string(parameter.param.name).substr(5); });

// The value buffer holds 2048 UTF-16 units: 2047 and the terminator fit, one more does not.
// The text ends at its first NUL and never runs past the data, terminated or not.
TEST(RegistryStringBuffer, SizesAndTerminators)
{
    TestKey key(roots.front());
    ASSERT_TRUE(key.created());
    struct Case
    {
        const wchar_t* value;
        std::wstring text;
        bool terminated;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {L"Fits", std::wstring(2047, L'x'), true, std::string(2047, 'x')},
        {L"FitsUnterminated", std::wstring(2047, L'x'), false, std::string(2047, 'x')},
        {L"TooLarge", std::wstring(2048, L'x'), true, std::nullopt},
        {L"FullUnterminated", std::wstring(2048, L'x'), false, std::nullopt},
        {L"Huge", std::wstring(100000, L'x'), true, std::nullopt},
        {L"Unterminated", L"abc", false, "abc"},
        {L"InnerNul", std::wstring(L"ab\0cd", 5), true, "ab"},
    };
    for (const Case& test : cases)
        key.setText(test.value, REG_SZ, test.text, test.terminated);
    const unsigned char oddLength[] = {'a', 0, 'b', 0, 'c'};
    key.setBytes(L"OddLength", REG_SZ, oddLength, sizeof(oddLength));

    for (const Case& test : cases)
    {
        SCOPED_TRACE(std::wstring(test.value).size());
        const std::wstring name = test.value;
        EXPECT_EQ(
            read(RegistryRoot::CurrentUser, key.subKey(), std::u16string(name.begin(), name.end())),
            test.expected);
    }
    const std::optional<std::string> odd =
        read(RegistryRoot::CurrentUser, key.subKey(), u"OddLength");
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(odd->substr(0, 2), "ab");
    EXPECT_LE(odd->size(), 3u);
}

// Narrow text is the ANSI code page: a character it cannot hold ends the text, and no
// look-alike character stands in for it.
TEST(RegistryStringBuffer, TextIsConvertedToTheAnsiCodePage)
{
    TestKey key(roots.front());
    ASSERT_TRUE(key.created());
    const std::u16string text = u"Caf\u00e9 \u263a tail";
    key.setText(L"Text", REG_SZ, std::wstring(text.begin(), text.end()));
    EXPECT_EQ(read(RegistryRoot::CurrentUser, key.subKey(), u"Text"), narrowText(text));
    if (GetACP() != 1252)
        GTEST_SKIP() << "the expected bytes below are those of code page 1252";
    EXPECT_EQ(narrowText(text), "Caf\xE9 ");
    EXPECT_EQ(narrowText(u"\u20ac 5"), "\x80 5");
    EXPECT_EQ(narrowText(u"D\u0101ta"), "D");
    EXPECT_EQ(narrowText(u"a\U0001F600b"), "a");
    EXPECT_EQ(narrowText(std::u16string(u"a") + char16_t(0xDC00) + u"b"), "a");
    EXPECT_EQ(narrowText(std::u16string(u"a") + char16_t(0xD800)), "a");
    EXPECT_EQ(narrowText(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}
