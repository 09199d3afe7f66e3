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

    const std::size_t stored = Veltora::Platform::trustedRootCertificates().size();
    ASSERT_GT(stored, 0u);
    const std::string text = log.text();
    EXPECT_NE(
        text.find("Trusting " + std::to_string(stored) + " CAs of the system's certificate store"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("left out"), std::string::npos) << text;
}
