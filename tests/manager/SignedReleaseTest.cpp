// A manager built with a signing key: it downloads only signed releases and launches only
// an installer file that still is the signed one.

#include "tests/manager/ManagerHarness.h"

#include "UpdateManager/signing/SignedRelease.h"
#include "UpdateManager/signing/SigningPrivateKey.h"
#include "platform/Platform.h"

#include <Poco/DigestEngine.h>
#include <Poco/SHA2Engine.h>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
std::string sha256Of(const std::string& content)
{
    Poco::SHA2Engine engine(Poco::SHA2Engine::SHA_256);
    engine.update(content.data(), content.size());
    return Poco::DigestEngine::digestToHex(engine.digest());
}

class SignedManager : public ManagerTest
{
protected:
    SignedManager()
    {
        createManager({}, {}, key.publicKey());
        serveInstaller();
        configureInstaller(0);
    }

    // The fixture's release, signed with the manager's key.
    Release signedRelease() const
    {
        Release release;
        release.sha256 = sha256Of(installerContent);
        const SignedRelease facts{alpha.sku, Veltora::Platform::platformWord(), release.version,
                                  installerContent.size(), release.sha256};
        release.signature = key.sign(*facts.canonicalText());
        return release;
    }

    bool installerRequested() const
    {
        for (const RecordedRequest& request : server->requests())
            if (request.path() == "/files/Setup.exe")
                return true;
        return false;
    }

    SigningPrivateKey key = SigningPrivateKey::generate();
};
} // namespace

TEST_F(SignedManager, InstallsASignedReleaseAndRecordsItsSha256)
{
    publish(signedRelease());
    // The manager's own road: the installer is launched once its file is ready, and the
    // files stay afterwards for the check below (the window's policy would discard them).
    journal().reaction = [&](const ProductChangedEvent&)
    {
        if (statusOf(alpha) == InstallerAvailable)
            manager().launchInstaller(alpha, true);
    };

    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    ASSERT_TRUE(tickUntil(
        [&] { return !entriesStartingWith(journal().entries, "finished ALPHA").empty(); }));

    EXPECT_THAT(installerLogLines(),
                ElementsAre("start Setup.exe", "arg " + installerFile().string(), "arg /SILENT",
                            "end Setup.exe"));
    boost::property_tree::ptree confirm;
    boost::property_tree::read_json(installerFile().string() + ".confirm", confirm);
    EXPECT_EQ(confirm.get<std::string>("sha256"), sha256Of(installerContent));
}

TEST_F(SignedManager, UnsignedReleaseFailsItsDownloadBeforeAnyRequest)
{
    Release release = signedRelease();
    release.signature.clear();
    publish(release);

    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    ASSERT_TRUE(tickUntil([&] { return statusOf(alpha) != DownloadInProgress; }));

    EXPECT_EQ(statusOf(alpha), DownloadError);
    EXPECT_FALSE(installerRequested());
    EXPECT_FALSE(fs::exists(installerFile()));
    EXPECT_THAT(messagesStartingWith(finish(), " Refusing release "),
                ElementsAre(" Refusing release 2.0.0.1 of ALPHA: the signature is missing"));
}

namespace
{
struct FoundInstallerCase
{
    const char* name;
    bool sameBytes;
};

class FoundInstaller : public SignedManager,
                       public ::testing::WithParamInterface<FoundInstallerCase>
{
};
} // namespace

// An installer that an earlier run downloaded and confirmed was not hashed in this run:
// it is read once before it may run.
TEST_P(FoundInstaller, RunsOnlyWhenItsBytesAreTheSignedOnes)
{
    publish(signedRelease());
    std::string onDisk = installerContent;
    if (!GetParam().sameBytes)
        onDisk.back() ^= 1;
    writeFile(installerFile(), onDisk);
    writeFile(installerFile().string() + ".confirm",
              "{\"size\": \"" + std::to_string(onDisk.size()) + "\"}");

    manager().addProduct(alpha, "0.0");
    ASSERT_EQ(statusOf(alpha), InstallerAvailable);
    const bool launched = manager().launchInstaller(alpha, true);

    EXPECT_EQ(launched, GetParam().sameBytes);
    EXPECT_EQ(statusOf(alpha), GetParam().sameBytes ? InstallerStart : DownloadError);
    EXPECT_FALSE(installerRequested());
    const auto refusals = messagesStartingWith(finish(), " Refusing to launch");
    if (GetParam().sameBytes)
        EXPECT_TRUE(refusals.empty());
    else
        EXPECT_THAT(refusals, ElementsAre(" Refusing to launch the installer of ALPHA: the "
                                          "installer file's SHA-256 differs from the release's"));
}

INSTANTIATE_TEST_SUITE_P(Cases, FoundInstaller,
                         ::testing::Values(FoundInstallerCase{"SignedBytes", true},
                                           FoundInstallerCase{"OtherBytes", false}),
                         [](const ::testing::TestParamInfo<FoundInstallerCase>& caseInfo)
                         { return caseInfo.param.name; });
