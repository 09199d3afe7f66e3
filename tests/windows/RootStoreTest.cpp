// https requests trust the CAs of the Windows ROOT certificate store, which OpenSSL does not
// read by itself. Wine's ROOT store holds the CAs of the build machine (and takes no
// others), so the test compares the store with the machine's bundle and checks that every
// one of its CAs goes into the requests' TLS settings; a server whose CA is in neither the
// store nor UPDATER_EXTRA_CA_FILE (unset here) is still refused.
#include "UpdateManager/web/WebRequest.h"
#include "platform/Platform.h"

#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestCertificates.h"

#include <boost/filesystem/fstream.hpp>
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
// The build machine's CA bundle, through Wine's drive for its root folder.
const char* const hostBundle = "Z:\\etc\\ssl\\certs\\ca-certificates.crt";

// The DER bytes of the first certificate in PEM text.
std::string firstCertificateOf(const std::string& pem)
{
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr))
        return {};
    std::string der(size, '\0');
    CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                         reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr);
    der.resize(size);
    return der;
}

// How many of `certificates` (DER) OpenSSL reads as certificates.
std::size_t readableByOpenSsl(const std::vector<std::string>& certificates)
{
    std::size_t readable = 0;
    for (const std::string& der : certificates)
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
        if (X509* certificate = d2i_X509(nullptr, &bytes, static_cast<long>(der.size())))
        {
            ++readable;
            X509_free(certificate);
        }
    }
    return readable;
}

std::string contentOf(const boost::filesystem::path& file)
{
    boost::filesystem::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

TEST(WindowsRootStore, HoldsTheCasOfTheBuildMachine)
{
    const std::string bundle = contentOf(hostBundle);
    ASSERT_FALSE(bundle.empty()) << hostBundle;
    const std::string hostCa = firstCertificateOf(bundle);
    ASSERT_FALSE(hostCa.empty());
    const std::vector<std::string> roots = Veltora::Platform::trustedRootCertificates();
    EXPECT_NE(std::find(roots.begin(), roots.end(), hostCa), roots.end());
}

TEST(WindowsRootStore, EveryCaOfTheStoreIsTrustedAndOthersAreStillRefused)
{
    ASSERT_EQ(std::getenv("UPDATER_EXTRA_CA_FILE"), nullptr);
    const TestCertificates certificates;
    HttpTestServer server(certificates.trusted());
    server.serveJson("/api/x", R"({"total": "1"})");
    LogCapture log({"web"});

    WebRequest request;
    boost::property_tree::ptree tree;
    EXPECT_FALSE(request.getJson(server.url("/api/x"), tree));
    EXPECT_EQ(request.state(), WebRequestState::ConnectionFailed);

    const std::vector<std::string> stored = Veltora::Platform::trustedRootCertificates();
    const std::size_t readable = readableByOpenSsl(stored);
    ASSERT_GT(readable, 0u);
    const std::string text = log.text();
    EXPECT_NE(text.find("Trusting " + std::to_string(readable) +
                        " CAs of the system's certificate store"),
              std::string::npos)
        << text;
    std::size_t leftOut = 0;
    for (auto at = text.find("left out"); at != std::string::npos;
         at = text.find("left out", at + 1))
        ++leftOut;
    EXPECT_EQ(leftOut, stored.size() - readable) << text;
}
