#pragma once

// What the fuzz targets share: a property check that stops the run with a report, the
// fuzzer's bytes cut into texts, a private folder, and a file that holds the
// bytes for parsers that read from a path.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Veltora::Fuzzing
{

// Reports `what` with the input's texts on standard error and aborts, which libFuzzer
// records as a crash with its input, when `holds` is false.
void fuzzCheck(bool holds, const std::string& what);

std::string textOf(const std::uint8_t* data, std::size_t size);

// The bytes cut at every NUL byte: "a\0b" gives {"a", "b"}, "" gives {""}.
std::vector<std::string> textsSeparatedByNul(const std::uint8_t* data, std::size_t size);

// An empty folder of its own for the whole run (a home, a Wine prefix), removed when the
// process ends normally.
const std::string& privateFolder();

// A file that lives in memory only, rewritten with each input and named by a path that
// any open() accepts.
class MemoryFile
{
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void replaceContent(const std::uint8_t* data, std::size_t size);
    const std::string& path() const { return filePath; }

private:
    int descriptor = -1;
    std::string filePath;
};

} // namespace Veltora::Fuzzing
