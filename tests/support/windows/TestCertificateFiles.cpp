// The openssl program belongs to the build machine, so a ctest fixture (test_certificates)
// runs the script there, into TEST_CERTIFICATES_FOLDER, before the Windows tests start.
#include "tests/support/TestCertificateFiles.h"

#include <boost/filesystem/operations.hpp>

#include <stdexcept>

namespace Veltora::Testing
{

void makeTestCertificateFiles(const boost::filesystem::path& folder)
{
    namespace fs = boost::filesystem;
    const fs::path made(TEST_CERTIFICATES_FOLDER);
    if (!fs::exists(made / "ca.pem"))
        throw std::runtime_error("no test certificates in " + made.string() +
                                 "; ctest makes them (fixture test_certificates)");
    fs::create_directories(folder);
    for (const fs::directory_entry& entry : fs::directory_iterator(made))
        fs::copy_file(entry.path(), folder / entry.path().filename(),
                      fs::copy_options::overwrite_existing);
}

} // namespace Veltora::Testing
