#include "tools/publish/Publisher.h"

#include "UpdateManager/scan/Versions.h"
#include "UpdateManager/signing/SignedRelease.h"
#include "UpdateManager/signing/SigningPrivateKey.h"
#include "tools/publish/InstallerCopy.h"
#include "tools/publish/ReleaseTree.h"
#include "tools/publish/ResourceAnswer.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <stdexcept>

namespace Veltora::Publish
{
namespace fs = boost::filesystem;

namespace
{
std::optional<UpdateManager::SigningPrivateKey> signingKey(const PublishOptions& options)
{
    if (!options.signKeyFile)
        return std::nullopt;
    return UpdateManager::SigningPrivateKey::fromPemFile(*options.signKeyFile);
}

std::optional<std::string> releaseNotes(const PublishOptions& options)
{
    if (!options.notesFile)
        return std::nullopt;
    const fs::path file(*options.notesFile);
    boost::system::error_code error;
    if (!fs::is_regular_file(file, error))
        throw std::runtime_error("cannot read the release notes " + file.string() + ": " +
                                 (error ? error.message() : "not a regular file"));
    fs::ifstream input(file, std::ios::binary);
    std::string html((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
    if (!input.is_open() || input.bad())
        throw std::runtime_error("cannot read the release notes " + file.string() + ": " +
                                 std::strerror(errno));
    return html;
}

void requireNewerThanPublished(const ReleaseTree& tree, const PublishOptions& options)
{
    const std::optional<std::string> published =
        tree.publishedVersion(options.sku, options.platform);
    if (published &&
        UpdateManager::packVersion(options.version) <= UpdateManager::packVersion(*published))
        throw std::runtime_error("version " + options.version + " is not newer than " + *published +
                                 ", published in " +
                                 tree.latestFile(options.sku, options.platform).string());
}

std::string signatureOf(const UpdateManager::SigningPrivateKey& key, const PublishOptions& options,
                        const InstallerFacts& facts)
{
    const UpdateManager::SignedRelease release{options.sku, options.platform, options.version,
                                               facts.size, facts.sha256};
    const std::optional<std::string> text = release.canonicalText();
    if (!text)
        throw std::runtime_error("the release cannot be signed: its texts do not form a "
                                 "canonical release text");
    return key.sign(*text);
}
} // namespace

void publishRelease(const PublishOptions& options, std::ostream& report)
{
    requireReadableInstaller(options.installer);
    const std::optional<UpdateManager::SigningPrivateKey> key = signingKey(options);
    const std::optional<std::string> notes = releaseNotes(options);
    const ReleaseTree tree(options.outFolder);
    requireNewerThanPublished(tree, options);

    const std::string fileName = fs::path(options.installer).filename().string();
    const fs::path installerCopy = tree.installerFile(options.sku, options.version, fileName);
    const fs::path latest = tree.latestFile(options.sku, options.platform);
    tree.createFolder(installerCopy.parent_path());
    tree.createFolder(latest.parent_path());
    const InstallerFacts facts = copyMeasuring(options.installer, installerCopy);

    PublishedRelease release;
    release.sku = options.sku;
    release.name = options.name;
    release.version = options.version;
    release.permalink =
        options.baseUrl + "/" + ReleaseTree::installerPath(options.sku, options.version, fileName);
    release.productPage = options.productPage;
    release.releaseNotesHtml = notes;
    release.platformMinVersion = options.minPlatformVersion;
    release.installer = facts;
    if (key)
        release.signature = signatureOf(*key, options, facts);
    tree.replaceLatest(options.sku, options.platform, resourcesAnswer(release));

    report << "Published " << options.sku << " " << options.version << " for " << options.platform
           << (key ? ", signed" : ", unsigned") << "\n"
           << "  installer: " << installerCopy.string() << " (" << facts.size << " bytes, sha256 "
           << facts.sha256 << ")\n"
           << "  answer:    " << latest.string() << "\n"
           << "  permalink: " << release.permalink << "\n";
}

void generateKey(const PublishOptions& options, std::ostream& report)
{
    const UpdateManager::SigningPrivateKey key = UpdateManager::SigningPrivateKey::generate();
    key.saveAsNewPemFile(options.outFolder);
    report << "Wrote a new Ed25519 private key to " << options.outFolder
           << " (readable by you only; keep it secret and keep a backup).\n"
           << "Build the updater with -DUPDATER_SIGNING_PUBLIC_KEY=<public key>; the public "
              "key:\n"
           << key.publicKey().text() << "\n";
}

} // namespace Veltora::Publish
