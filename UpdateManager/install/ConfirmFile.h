#pragma once

#include <cstdint>
#include <string>

namespace Veltora::UpdateManager
{

// What a confirm file records of a completed download: the installer file's size, its
// MD5 checksum and, for a release that named one, its SHA-256.
struct ConfirmRecord
{
    std::int64_t size = 0;
    std::string checksum;
    std::string sha256;
};

// The confirm file's text: a JSON object with "size" (as decimal text), "checksum" and,
// when not empty, "sha256", in the property-tree writer's indented form.
std::string confirmFileText(const ConfirmRecord& record);

// The record that a confirm file's text holds: size 0 when "size" is missing or not a
// number, checksum and sha256 empty when missing. Text that is not JSON, or that lies
// outside the JSON bounds of core/BoundedJson.h (too large, too deeply nested), throws
// boost::property_tree::json_parser_error naming `fileName`.
ConfirmRecord parseConfirmFile(const std::string& text, const std::string& fileName = {});

// Reads and parses the confirm file `fileName`; one that cannot be opened throws
// json_parser_error as well.
ConfirmRecord loadConfirmFile(const std::string& fileName);

// Writes the record to `fileName`, replacing what is there. Throws json_parser_error
// ("cannot open file", "write error") when the file cannot be written.
void saveConfirmFile(const std::string& fileName, const ConfirmRecord& record);

} // namespace Veltora::UpdateManager
