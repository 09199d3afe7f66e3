#include "tests/support/TestCertificateFiles.h"

#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>

#include <iterator>
#include <stdexcept>
#include <string>

namespace Veltora::Testing
{

void makeTestCertificateFiles(const boost::filesystem::path& folder)
{
    Poco::Pipe output;
    Poco::ProcessHandle process = Poco::Process::launch(
        "sh", {TEST_CERTIFICATES_SCRIPT, folder.string()}, nullptr, &output, &output);
    Poco::PipeInputStream stream(output);
    const std::string text{std::istreambuf_iterator<char>(stream),
                           std::istreambuf_iterator<char>()};
    const int status = process.wait();
    if (status != 0)
        throw std::runtime_error(std::string(TEST_CERTIFICATES_SCRIPT) + " ended with " +
                                 std::to_string(status) + ":\n" + text);
}

} // namespace Veltora::Testing
