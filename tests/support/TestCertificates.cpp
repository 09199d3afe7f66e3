#include "tests/support/TestCertificates.h"

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestCertificateFiles.h"

#include <string>

namespace Veltora::Testing
{

namespace
{
namespace fs = boost::filesystem;

TlsIdentity identityNamed(const fs::path& folder, const std::string& name)
{
    return {folder / (name + ".pem"), folder / (name + ".key")};
}

// Names the CA of `certificates` for the process's https requests as soon as they exist.
struct ProcessCertificates
{
    ProcessCertificates()
    {
        ScopedEnvironment::setForProcess("UPDATER_EXTRA_CA_FILE", certificates.caFile().string());
    }

    TestCertificates certificates;
};
} // namespace

TestCertificates::TestCertificates()
    : caCertificate(folder / "ca.pem"), trustedIdentity(identityNamed(folder.path(), "trusted")),
      selfSignedIdentity(identityNamed(folder.path(), "self-signed")),
      otherHostIdentity(identityNamed(folder.path(), "other-host")),
      expiredIdentity(identityNamed(folder.path(), "expired"))
{
    makeTestCertificateFiles(folder.path());
}

const TestCertificates& TestCertificates::trustedByThisProcess()
{
    static const ProcessCertificates shared;
    return shared.certificates;
}

} // namespace Veltora::Testing
