// The real updater binary on a private Xvfb display against the loopback test server in
// its TLS mode, given as "--server https://127.0.0.1:PORT": a whole update whose download
// is cut once and resumed, with the test CA trusted through UPDATER_EXTRA_CA_FILE or
// through OpenSSL's default store; and runs that must not reach the server at all.
#include "tests/e2e/UpdaterRunFixture.h"
#include "tests/e2e/XvfbDisplay.h"
#include "tests/support/ChildProcess.h"

#include "platform/Platform.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace fs = boost::filesystem;
using namespace Veltora::Testing;
using namespace std::chrono_literals;

namespace
{
// Where the updater finds the test CA.
enum class CaSource
{
    ExtraCaFile,          // UPDATER_EXTRA_CA_FILE names it
    DefaultStore,         // only SSL_CERT_FILE, OpenSSL's default store, names it
    UnreadableExtraCaFile // UPDATER_EXTRA_CA_FILE names a file that does not exist
};

struct HttpsRunCase
{
    const char* name;
    const TlsIdentity& (TestCertificates::*identity)() const;
    CaSource caSource;
    const char* failure; // logged when the run must not reach the server; nullptr: updates
    const char* cause;   // what the line on standard error gives as the reason
};

void PrintTo(const HttpsRunCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class UpdaterHttpsRun : public ::testing::TestWithParam<HttpsRunCase>
{
protected:
    UpdaterHttpsRun()
    {
        fs::create_directories(downloads);
        fs::create_directories(home);
        fs::create_directories(work);
    }

    // A fake installer that records its arguments, padded so that the download is cut
    // into several chunks.
    std::string installerScript() const
    {
        std::string script = "#!/bin/sh\n"
                             "{ printf '%s' \"$0\"; for a in \"$@\"; do printf '|%s' \"$a\"; "
                             "done; printf '\\n'; } >> '" +
                             installerRecord.string() + "'\nexit 0\n";
        while (script.size() < 256 * 1024)
            script += "# padding that the shell never reads, as it has exited above\n";
        return script;
    }

    // The release, whose permalink is an https address of the same server; the first
    // transfer of the installer ends after half its body, on a multiple of 8192 bytes.
    void publishRelease()
    {
        installerContent = installerScript();
        const std::string resource =
            "{\"product_sku\":\"" + sku + "\",\"name\":\"End-to-end Product\"," +
            "\"version\":\"2.0\",\"permalink\":\"" + server.url(installerPath) + "\"," +
            "\"resources_site_link\":\"http://example.invalid/e2e\",\"size\":" +
            std::to_string(installerContent.size()) + ",\"checksum\":\"" + md5Of(installerContent) +
            "\"}";
        server.serveJson("/api/resources/soft/" + sku + "/" + Veltora::Platform::platformWord() +
                             "/latest",
                         "{\"total\":1,\"resources\":[" + resource + "]}");
        server.on(installerPath,
                  [this](const RecordedRequest& request)
                  {
                      HttpReply reply = HttpTestServer::contentReply(installerContent, request,
                                                                     RangeMode::Honour);
                      if (!firstTransferCut.exchange(true))
                      {
                          reply.ending = ReplyEnding::CloseAfterBytes;
                          reply.bytesBeforeEnding = halfOfTheInstaller();
                      }
                      return reply;
                  });
    }

    std::size_t halfOfTheInstaller() const { return installerContent.size() / 2 / 8192 * 8192; }

    std::vector<RecordedRequest> installerRequests() const
    {
        std::vector<RecordedRequest> found;
        for (const RecordedRequest& request : server.requests())
            if (request.path() == installerPath)
                found.push_back(request);
        return found;
    }

    std::unique_ptr<ChildProcess> startUpdater(const std::vector<std::string>& arguments)
    {
        ChildProcess::Options options;
        options.environment = {{"DISPLAY", display.name()},
                               {"HOME", home.string()},
                               {"XDG_CONFIG_HOME", (home / ".config").string()},
                               {"XDG_DOWNLOAD_DIR", downloads.string()},
                               {"UPDATER_LOG", "update_manager=error,web=error"}};
        const std::string caFile = certificates.caFile().string();
        switch (GetParam().caSource)
        {
        case CaSource::ExtraCaFile:
            options.environment["UPDATER_EXTRA_CA_FILE"] = caFile;
            break;
        case CaSource::DefaultStore:
            options.environment["UPDATER_EXTRA_CA_FILE"] = ""; // removed
            options.environment["SSL_CERT_FILE"] = caFile;
            break;
        case CaSource::UnreadableExtraCaFile:
            options.environment["UPDATER_EXTRA_CA_FILE"] = (root / "missing.pem").string();
            break;
        }
        options.workingFolder = work;
        options.outputFile = root / "updater.out";
        return std::make_unique<ChildProcess>(UPDATER_BINARY, arguments, options);
    }

    const TestCertificates& certificates = TestCertificates::trustedByThisProcess();
    TempFolder root;
    fs::path downloads = root / "Downloads";
    fs::path home = root / "home";
    fs::path work = root / "work";
    fs::path installerRecord = root / "installer-runs.txt";
    XvfbDisplay display;
    std::string installerContent;
    std::atomic<bool> firstTransferCut{false};
    // Last, so that it stops before what its handlers use goes away.
    HttpTestServer server{(certificates.*GetParam().identity)()};
};
} // namespace

TEST_P(UpdaterHttpsRun, UpdatesOnlyFromAServerWithATrustedCertificate)
{
    publishRelease();
    const std::string serverOption = "https://" + server.hostAndPort();

    auto updater = startUpdater({"--product-sku", sku, "--server", serverOption});
    const auto status = updater->waitFor(runTimeout);
    const std::string output = updater->output();

    if (GetParam().failure == nullptr)
    {
        ASSERT_EQ(status, 0) << output;
        EXPECT_EQ(readFile(installerRecord), (downloads / installerName).string() + "|/SILENT\n");
        const auto requests = installerRequests();
        ASSERT_EQ(requests.size(), 2u) << output;
        EXPECT_EQ(requests[0].header("Range"), std::nullopt);
        EXPECT_EQ(requests[1].header("Range"),
                  "bytes=" + std::to_string(halfOfTheInstaller()) + "-");
        EXPECT_FALSE(contains(output, "Error connecting to ")) << output;
    }
    else
    {
        EXPECT_EQ(status, 1) << output;
        EXPECT_EQ(server.requestCount(), 0u) << "nothing is sent to an unverified server";
        EXPECT_FALSE(fs::exists(installerRecord));
        EXPECT_TRUE(contains(output, "Error connecting to " + serverOption + "/api/resources/"))
            << output;
        EXPECT_TRUE(contains(output, GetParam().failure)) << output;
        EXPECT_TRUE(contains(output, " Could not connect to resources server.")) << output;
        EXPECT_TRUE(
            contains(output, "updater: cannot reach " + serverOption + ": " + GetParam().cause))
            << output;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, UpdaterHttpsRun,
    ::testing::Values(HttpsRunCase{"TrustedThroughTheExtraCaFile", &TestCertificates::trusted,
                                   CaSource::ExtraCaFile, nullptr, nullptr},
                      HttpsRunCase{"TrustedThroughTheDefaultStore", &TestCertificates::trusted,
                                   CaSource::DefaultStore, nullptr, nullptr},
                      HttpsRunCase{"SelfSigned", &TestCertificates::selfSigned,
                                   CaSource::ExtraCaFile, "(self-signed certificate)",
                                   "certificate not trusted (self-signed certificate)"},
                      HttpsRunCase{
                          "UnreadableExtraCaFile", &TestCertificates::trusted,
                          CaSource::UnreadableExtraCaFile,
                          "Cannot load the CA certificates (system store, UPDATER_EXTRA_CA_FILE)",
                          "SSL context exception: Cannot load the CA certificates (system store, "
                          "UPDATER_EXTRA_CA_FILE)"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });
