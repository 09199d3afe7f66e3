#include "tests/support/TestCertificates.h"

#include "tests/support/ScopedEnvironment.h"

#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <boost/filesystem/fstream.hpp>

#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace Veltora::Testing
{

namespace
{
namespace fs = boost::filesystem;

// Small elliptic-curve keys: made in an instant, unlike RSA ones.
const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt",
                                         "ec_paramgen_curve:prime256v1", "-nodes"};

// The least configuration "openssl ca" needs; it is used only because it, unlike
// "openssl x509", can give a certificate a validity that lies wholly in the past.
const char* const caConfiguration = "[ca]\n"
                                    "default_ca = test_ca\n"
                                    "[test_ca]\n"
                                    "database = index.txt\n"
                                    "new_certs_dir = .\n"
                                    "serial = serial\n"
                                    "default_md = sha256\n"
                                    "policy = any_name\n"
                                    "unique_subject = no\n"
                                    "[any_name]\n"
                                    "commonName = supplied\n";

void writeText(const fs::path& file, const std::string& text)
{
    fs::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Runs openssl with `arguments` in `folder`; its output is kept for the error only.
void openssl(const std::vector<std::string>& arguments, const fs::path& folder)
{
    Poco::Pipe output;
    Poco::ProcessHandle process =
        Poco::Process::launch("openssl", arguments, folder.string(), nullptr, &output, &output);
    Poco::PipeInputStream stream(output);
    const std::string text{std::istreambuf_iterator<char>(stream),
                           std::istreambuf_iterator<char>()};
    const int status = process.wait();
    if (status == 0)
        return;
    std::string command = "openssl";
    for (const std::string& argument : arguments)
        command += " " + argument;
    throw std::runtime_error(command + " ended with " + std::to_string(status) + ":\n" + text);
}

// Extensions of a server certificate for `subjectAltName` (e.g. "IP:127.0.0.1").
std::string serverExtensions(const std::string& subjectAltName)
{
    return "subjectAltName = " + subjectAltName +
           "\nbasicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n";
}

TlsIdentity identityNamed(const fs::path& folder, const std::string& name)
{
    return {folder / (name + ".pem"), folder / (name + ".key")};
}

// A key and a certificate for `commonName` and `subjectAltName`, signed by the CA in
// `folder`, valid for `validity` ("-days N" or "-startdate ... -enddate ...").
TlsIdentity signedByCa(const fs::path& folder, const std::string& name,
                       const std::string& commonName, const std::string& subjectAltName,
                       const std::vector<std::string>& validity)
{
    openssl(joined({"req", "-new"}, joined(newKey, {"-keyout", name + ".key", "-out", name + ".csr",
                                                    "-subj", "/CN=" + commonName})),
            folder);
    writeText(folder / (name + ".ext"), serverExtensions(subjectAltName));
    openssl(
        joined({"ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key", "-in",
                name + ".csr", "-out", name + ".pem", "-notext", "-extfile", name + ".ext"},
               validity),
        folder);
    return identityNamed(folder, name);
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

TestCertificates::TestCertificates() : caCertificate(folder / "ca.pem")
{
    const fs::path& dir = folder.path();
    openssl(joined({"req", "-x509"},
                   joined(newKey,
                          {"-keyout", "ca.key", "-out", "ca.pem", "-days", "30", "-subj",
                           "/CN=Veltora Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                           "-addext", "keyUsage=critical,keyCertSign,cRLSign"})),
            dir);
    writeText(dir / "ca.cnf", caConfiguration);
    writeText(dir / "index.txt", "");
    writeText(dir / "serial", "01\n");

    const std::vector<std::string> current = {"-days", "30"};
    trustedIdentity = signedByCa(dir, "trusted", "127.0.0.1", "IP:127.0.0.1", current);
    otherHostIdentity =
        signedByCa(dir, "other-host", "other.example", "DNS:other.example", current);
    expiredIdentity = signedByCa(dir, "expired", "127.0.0.1", "IP:127.0.0.1",
                                 {"-startdate", "20200101000000Z", "-enddate", "20200102000000Z"});

    openssl(joined({"req", "-x509"},
                   joined(newKey,
                          {"-keyout", "self-signed.key", "-out", "self-signed.pem", "-days", "30",
                           "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"})),
            dir);
    selfSignedIdentity = identityNamed(dir, "self-signed");
}

const TestCertificates& TestCertificates::trustedByThisProcess()
{
    static const ProcessCertificates shared;
    return shared.certificates;
}

} // namespace Veltora::Testing
