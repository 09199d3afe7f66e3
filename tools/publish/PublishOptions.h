#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Veltora::Publish
{

// What one `updater-publish` command line asks for.
struct PublishOptions
{
    enum class Command
    {
        Help,
        Publish,
        Keygen
    };
    Command command = Command::Publish;

    std::string sku;
    std::string platform;
    std::string version;
    std::string name;
    std::string baseUrl; // without trailing slashes
    std::string productPage;
    std::optional<std::string> notesFile;
    std::optional<std::string> minPlatformVersion;
    std::optional<std::string> signKeyFile;
    std::string outFolder; // --out: the tree to publish into, or the key file of keygen
    std::string installer;
};

// A command line that cannot be carried out; the text says why in one line.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments (argument 0 not included) and checks every value that can be
// checked without touching a file; throws UsageError.
PublishOptions parsePublishOptions(const std::vector<std::string>& arguments);

// The text --help prints.
std::string usageText();

} // namespace Veltora::Publish
