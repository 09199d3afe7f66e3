#pragma once

#include "tests/support/HttpTestServer.h"
#include "tests/support/TempFolder.h"

#include <boost/filesystem/path.hpp>

namespace Veltora::Testing
{

// Certificates for TLS tests in a temporary folder, as tests/support/make-test-certificates.sh
// makes them: a test CA, and server certificates that a client trusting only that CA must
// accept or reject:
//
//     trusted()     for 127.0.0.1 (IP address), signed by the CA     -> accepted
//     selfSigned()  for 127.0.0.1, signed by itself                   -> not trusted
//     otherHost()   for the host name "other.example", signed by CA   -> wrong host
//     expired()     for 127.0.0.1, signed by the CA, ended in 2020    -> expired
//
//     HttpTestServer server(TestCertificates::trustedByThisProcess().trusted());
//     ... a WebRequest fetches server.url("/x") over https ...
class TestCertificates
{
public:
    // Throws std::runtime_error with the reason when the certificates cannot be made.
    TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // The CA certificate (PEM).
    const boost::filesystem::path& caFile() const { return caCertificate; }
    const TlsIdentity& trusted() const { return trustedIdentity; }
    const TlsIdentity& selfSigned() const { return selfSignedIdentity; }
    const TlsIdentity& otherHost() const { return otherHostIdentity; }
    const TlsIdentity& expired() const { return expiredIdentity; }

    // One set for the whole process, made on first use, whose CA the process's https
    // requests trust: it is named in UPDATER_EXTRA_CA_FILE, which the web layer reads once,
    // at the first https request. So call this before any https request of the process;
    // child processes inherit the variable.
    static const TestCertificates& trustedByThisProcess();

private:
    TempFolder folder;
    boost::filesystem::path caCertificate;
    TlsIdentity trustedIdentity;
    TlsIdentity selfSignedIdentity;
    TlsIdentity otherHostIdentity;
    TlsIdentity expiredIdentity;
};

} // namespace Veltora::Testing
