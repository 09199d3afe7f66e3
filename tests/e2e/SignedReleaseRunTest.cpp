// The updater built with a release signing key (the test key of release-signing-test.key),
// run for real: against releases whose signature or signed facts are wrong, and against a
// tree published with updater-publish and served by the system's nginx.
#include "tests/e2e/UpdaterRunFixture.h"

#include "UpdateManager/signing/SignedRelease.h"
#include "UpdateManager/signing/SigningPrivateKey.h"
#include "platform/Platform.h"
#include "tests/support/NginxSite.h"
#include "tests/support/ProgramRun.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <functional>

namespace fs = boost::filesystem;
using namespace Veltora::Testing;
using Veltora::UpdateManager::SignedRelease;
using Veltora::UpdateManager::SigningPrivateKey;

namespace
{
const std::string signingKeyFile = RELEASE_SIGNING_TEST_KEY;

// The first word sha256sum prints for `content`, written to `scratch` for it.
std::string sha256Of(const std::string& content, const fs::path& scratch)
{
    writeExecutable(scratch, content);
    const ProgramRun run = runProgram("sha256sum", {scratch.string()});
    fs::remove(scratch);
    return run.standardOutput.substr(0, run.standardOutput.find(' '));
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// What a row changes in a correctly signed release: the members of the resource object
// (raw JSON values) and the installer bytes the server hands out.
struct Release
{
    std::map<std::string, std::string> members;
    std::string servedInstaller;
};

struct SignatureCase
{
    const char* name;
    std::function<void(Release&, const std::string& signedInstaller)> change;
    bool installs;
    // The reason the log gives for a refusal; empty for the release that installs.
    const char* reason;
    // Whether the refusal comes before any byte of the installer is fetched.
    bool refusedBeforeDownload;
};

void PrintTo(const SignatureCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class SignedUpdaterRun : public UpdaterRun, public ::testing::WithParamInterface<SignatureCase>
{
protected:
    SignedUpdaterRun() { updaterProgram = UPDATER_SIGNED_BINARY; }

    // The resource members of `installer` as version 2.0 for this system, signed with
    // `key`.
    std::map<std::string, std::string> signedMembers(const std::string& installer,
                                                     const SigningPrivateKey& key)
    {
        const std::string sha256 = sha256Of(installer, root / "scratch");
        const SignedRelease release{sku, Veltora::Platform::platformWord(), "2.0", installer.size(),
                                    sha256};
        return {{"sha256", quoted(sha256)},
                {"signature", quoted(key.sign(*release.canonicalText()))}};
    }
};
} // namespace

TEST_P(SignedUpdaterRun, InstallsOnlyWhatTheKeyVouchesFor)
{
    const SignatureCase& testCase = GetParam();
    const std::string installer = installerScript(0);
    Release release{signedMembers(installer, SigningPrivateKey::fromPemFile(signingKeyFile)),
                    installer};
    testCase.change(release, installer);
    publishRelease(release.servedInstaller, release.members);
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", relaunchProbe().string()});

    auto updater = startUpdater(arguments, "update_manager=error,download=error");
    const auto status = updater->waitFor(runTimeout);

    const std::string output = updater->output();
    ASSERT_EQ(status, testCase.installs ? 0 : 2) << output;
    EXPECT_EQ(installerRuns().size(), testCase.installs ? 1u : 0u);
    EXPECT_EQ(fs::exists(relaunchRecord), testCase.installs);
    EXPECT_TRUE(contains(output, testCase.reason)) << testCase.reason << "\n" << output;
    if (testCase.refusedBeforeDownload)
    {
        EXPECT_TRUE(installerRequests().empty());
        EXPECT_TRUE(downloadedFiles().empty());
    }
    if (!testCase.installs)
    {
        for (const std::string& name : downloadedFiles())
            EXPECT_EQ(name, installerName) << "no confirm file for a refused installer";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignedUpdaterRun,
    ::testing::Values(
        SignatureCase{"Valid", [](Release&, const std::string&) {}, true, "", false},
        SignatureCase{"Missing",
                      [](Release& release, const std::string&)
                      { release.members.erase("signature"); },
                      false, "the signature is missing", true},
        SignatureCase{"MadeWithAnotherKey",
                      [](Release& release, const std::string& installer)
                      {
                          const SigningPrivateKey otherKey = SigningPrivateKey::generate();
                          const std::string sha256 = release.members.at("sha256").substr(
                              1, release.members.at("sha256").size() - 2);
                          const SignedRelease signedRelease{sku, Veltora::Platform::platformWord(),
                                                            "2.0", installer.size(), sha256};
                          release.members["signature"] =
                              quoted(otherKey.sign(*signedRelease.canonicalText()));
                      },
                      false, "not made by the updater's key for this release", true},
        // The answer's MD5 is made to fit the other bytes, so only the signed SHA-256
        // can tell; the file is fetched and refused before it runs.
        SignatureCase{"InstallerBytesChangedAfterSigning",
                      [](Release& release, const std::string& installer)
                      {
                          release.servedInstaller = installer;
                          release.servedInstaller.back() ^= 1;
                          release.members["checksum"] = quoted(md5Of(release.servedInstaller));
                      },
                      false, "Bad SHA-256 for ", false},
        SignatureCase{"SizeChanged",
                      [](Release& release, const std::string& installer)
                      {
                          release.servedInstaller = installer + "x";
                          release.members["size"] = std::to_string(installer.size() + 1);
                          release.members["checksum"] = quoted(md5Of(release.servedInstaller));
                      },
                      false, "not made by the updater's key for this release", true},
        SignatureCase{"VersionChanged",
                      [](Release& release, const std::string&)
                      { release.members["version"] = quoted("2.1"); },
                      false, "not made by the updater's key for this release", true},
        SignatureCase{"SignatureNotBase64",
                      [](Release& release, const std::string&)
                      { release.members["signature"] = quoted("not base64: *&^%"); },
                      false, "the signature is not base64", true}),
    [](const ::testing::TestParamInfo<SignatureCase>& caseInfo) { return caseInfo.param.name; });

namespace
{
// Two releases of the demo product published with updater-publish into a tree that nginx
// serves, the second one signed with the test key.
class PublishedSiteRun : public UpdaterRun
{
protected:
    PublishedSiteRun() { updaterProgram = UPDATER_SIGNED_BINARY; }

    // The demo product's installer for `version`, padded to `size` bytes so that each
    // release has bytes of its own (the padding after the program is never read).
    fs::path demoInstaller(const std::string& version, std::size_t size)
    {
        std::string content = readFile(DEMO_PRODUCT);
        content += "release " + version + "\n";
        content.resize(size, static_cast<char>(version.back()));
        const fs::path file = root / ("VeltoraDemo-" + version + "-setup");
        writeExecutable(file, content);
        return file;
    }

    void publish(const std::string& version, const fs::path& installer)
    {
        const ProgramRun run =
            runProgram(UPDATER_PUBLISH,
                       {"--sku", "veltora-demo", "--platform", Veltora::Platform::platformWord(),
                        "--version", version, "--name", "Veltora Demo", "--base-url", nginx.url(),
                        "--sign-key", signingKeyFile, "--out", site.string(), installer.string()});
        ASSERT_EQ(run.status, 0) << run.standardError;
    }

    fs::path site = root / "site";
    fs::path productHome = root / "product";
    NginxSite nginx{DOCUMENTED_NGINX_SITE, site, root / "nginx"};
};
} // namespace

// nginx hands out the first half of an installer at once and then a trickle, which the
// updater's low-speed limit counts as a cut transfer; the resumed request asks nginx for
// the rest with a range.
TEST_F(PublishedSiteRun, UpdatesTheDemoProductFromTheNewestSignedReleaseWithAResume)
{
    const std::size_t installerSize = 4 * 1024 * 1024;
    ASSERT_NO_THROW(
        nginx.start("limit_rate_after " + std::to_string(installerSize / 2) + "; limit_rate 64;"));
    ASSERT_NO_FATAL_FAILURE(publish("1.0.0", demoInstaller("1.0.0", installerSize)));
    const fs::path newest = demoInstaller("2.0.0", installerSize);
    ASSERT_NO_FATAL_FAILURE(publish("2.0.0", newest));
    ChildProcess::Options options = updaterOptions("update_manager=error,download=warning");
    options.environment["VELTORA_DEMO_HOME"] = productHome.string();
    options.environment["UPDATER_LOW_SPEED_LIMIT"] = "4096/1";
    const std::string product = (productHome / "bin" / "veltora-demo").string();
    const std::string serverAddress = "http://" + std::string(NginxSite::user) + ":" +
                                      NginxSite::password +
                                      "@127.0.0.1:" + std::to_string(nginx.port());

    auto updater = startUpdater({"--product-sku", "veltora-demo", "--server", serverAddress, "--",
                                 product, "--started-by", "updater"},
                                options);
    const auto status = updater->waitFor(runTimeout);

    const std::string output = updater->output();
    ASSERT_EQ(status, 0) << output << nginx.accessLog();
    EXPECT_TRUE(contains(output, "Veltora Demo 2.0.0 started with 2 arguments: [--started-by] "
                                 "[updater]"))
        << output;
    EXPECT_EQ(readFile(productHome / "bin" / "veltora-demo"), readFile(newest));
    const std::string installerUrl = "/files/veltora-demo/2.0.0/" + newest.filename().string();
    EXPECT_TRUE(contains(nginx.accessLog(), "GET " + installerUrl + " 200\n")) << nginx.accessLog();
    EXPECT_TRUE(contains(nginx.accessLog(), "GET " + installerUrl + " 206\n")) << nginx.accessLog();
    EXPECT_TRUE(fs::exists(site / "files" / "veltora-demo" / "1.0.0" / "VeltoraDemo-1.0.0-setup"))
        << "the older release stays published";
}
