#include "UpdateManager/install/ConfirmFile.h"
#include "tests/support/TempFolder.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include <string>

using namespace Veltora::UpdateManager;
using boost::property_tree::json_parser_error;
using Veltora::Testing::TempFolder;

namespace
{

void expectSameRecord(const ConfirmRecord& read, const ConfirmRecord& written)
{
    EXPECT_EQ(read.size, written.size);
    EXPECT_EQ(read.checksum, written.checksum);
    EXPECT_EQ(read.sha256, written.sha256);
}

TEST(ConfirmFileText, ReadsBackTheFieldsWritten)
{
    TempFolder folder;
    const std::string file = (folder / "setup.exe.confirm").string();
    for (const ConfirmRecord& record :
         {ConfirmRecord{1048576, "d41d8cd98f00b204e9800998ecf8427e", ""}, ConfirmRecord{0, "", ""},
          ConfirmRecord{-1, "quote \" backslash \\ tab \t nl \n", ""},
          ConfirmRecord{9223372036854775807, "caf\xc3\xa9", ""},
          ConfirmRecord{3, "900150983cd24fb0d6963f7d28e17f72",
                        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}})
    {
        expectSameRecord(parseConfirmFile(confirmFileText(record)), record);
        saveConfirmFile(file, record);
        expectSameRecord(loadConfirmFile(file), record);
    }
}

TEST(ConfirmFileText, MissingOrOddFieldsReadAsEmpty)
{
    expectSameRecord(parseConfirmFile(R"({"size": 42, "checksum": "abc"})"), {42, "abc", ""});
    expectSameRecord(parseConfirmFile(R"({"size": "many"})"), {0, "", ""});
    expectSameRecord(parseConfirmFile("[]"), {0, "", ""});
    EXPECT_THROW(parseConfirmFile("{\"size\": "), json_parser_error);
}

// Anything may stand in the Downloads folder under the confirm file's name: a deeply
// nested file must be refused, not use up the stack, and a huge one not be read whole.
TEST(ConfirmFileText, RefusesFilesBeyondTheJsonBounds)
{
    TempFolder folder;
    const boost::filesystem::path nested = folder / "nested.confirm";
    boost::filesystem::ofstream(nested) << std::string(1000000, '[');
    EXPECT_THROW(loadConfirmFile(nested.string()), json_parser_error);

    const boost::filesystem::path huge = folder / "huge.confirm";
    boost::filesystem::ofstream(huge)
        << R"({"size": 5, "checksum": ")" << std::string(4 * 1024 * 1024, 'a') << "\"}";
    EXPECT_THROW(loadConfirmFile(huge.string()), json_parser_error);
}

} // namespace
