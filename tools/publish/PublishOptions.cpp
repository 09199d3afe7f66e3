#include "tools/publish/PublishOptions.h"

#include "UpdateManager/scan/Versions.h"

#include <algorithm>
#include <map>

namespace Veltora::Publish
{
namespace
{
const char* const helpHint = " (see updater-publish --help)";

[[noreturn]] void refuse(const std::string& reason)
{
    throw UsageError(reason + helpHint);
}

// Letters, digits and "-._~": a name that is one path segment on every host and needs no
// escaping in a URL (the updater puts the SKU into its request path as it is, and takes
// the installer's file name from the permalink's last segment).
bool isUrlSafeName(const std::string& text)
{
    return !text.empty() && text != "." && text != ".." &&
           std::all_of(text.begin(), text.end(),
                       [](char character)
                       {
                           return (character >= 'a' && character <= 'z') ||
                                  (character >= 'A' && character <= 'Z') ||
                                  (character >= '0' && character <= '9') || character == '-' ||
                                  character == '.' || character == '_' || character == '~';
                       });
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// An http or https address with a host, nothing that would end the path (query,
// fragment) and no blanks or control characters.
bool isBaseUrl(const std::string& url)
{
    const std::string scheme = startsWith(url, "http://")    ? "http://"
                               : startsWith(url, "https://") ? "https://"
                                                             : "";
    if (scheme.empty() || url.size() == scheme.size() || url[scheme.size()] == '/')
        return false;
    return std::none_of(url.begin(), url.end(),
                        [](char character)
                        {
                            return static_cast<unsigned char>(character) <= ' ' ||
                                   character == '?' || character == '#' || character == '"' ||
                                   character == '\\' || character == 0x7F;
                        });
}

std::string withoutTrailingSlashes(std::string url)
{
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url;
}

// Dotted decimal numbers as the updater's platform check reads them, such as 6.1 or 5.10.
bool isPlatformVersion(const std::string& text)
{
    std::size_t start = 0;
    while (true)
    {
        const std::size_t end = std::min(text.find('.', start), text.size());
        const std::string piece = text.substr(start, end - start);
        if (piece.empty() || piece.size() > 5 ||
            !std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoul(piece) > 65535)
            return false;
        if (end == text.size())
            return true;
        start = end + 1;
    }
}

std::string fileNameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Splits "--name value" pairs and positional arguments; "--" ends the options.
struct SplitArguments
{
    std::map<std::string, std::string> values;
    std::vector<std::string> positional;
    bool help = false;
};

SplitArguments splitArguments(const std::vector<std::string>& arguments,
                              const std::vector<std::string>& known)
{
    SplitArguments split;
    bool optionsEnded = false;
    for (std::size_t index = 0; index < arguments.size(); ++index)
    {
        const std::string& argument = arguments[index];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-')
        {
            split.positional.push_back(argument);
            continue;
        }
        if (argument == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h")
        {
            split.help = true;
            continue;
        }
        if (std::find(known.begin(), known.end(), argument) == known.end())
            refuse("unknown option " + argument);
        if (index + 1 == arguments.size())
            refuse("option " + argument + " needs a value");
        if (!split.values.emplace(argument, arguments[++index]).second)
            refuse("option " + argument + " is given twice");
    }
    return split;
}

std::string required(const SplitArguments& split, const std::string& option)
{
    const auto found = split.values.find(option);
    if (found == split.values.end())
        refuse("missing " + option);
    if (found->second.empty())
        refuse("option " + option + " needs a value");
    return found->second;
}

std::optional<std::string> optional(const SplitArguments& split, const std::string& option)
{
    const auto found = split.values.find(option);
    if (found == split.values.end())
        return std::nullopt;
    if (found->second.empty())
        refuse("option " + option + " needs a value");
    return found->second;
}

PublishOptions keygenOptions(const std::vector<std::string>& arguments)
{
    const SplitArguments split = splitArguments(arguments, {"--out"});
    PublishOptions options;
    options.command = split.help ? PublishOptions::Command::Help : PublishOptions::Command::Keygen;
    if (split.help)
        return options;
    if (!split.positional.empty())
        refuse("keygen takes no argument " + split.positional.front());
    options.outFolder = required(split, "--out");
    return options;
}

void checkReleaseValues(const PublishOptions& options)
{
    if (!isUrlSafeName(options.sku))
        refuse("--sku '" + options.sku + "' may hold only letters, digits, '-', '.', '_' and '~'");
    if (options.platform != "windows" && options.platform != "linux")
        refuse("--platform must be windows or linux, not '" + options.platform + "'");
    if (UpdateManager::packVersion(options.version) == 0)
        refuse("--version '" + options.version +
               "' cannot be compared by the updater; give dotted numbers such as 2.0.1");
    if (!isUrlSafeName(options.version))
        refuse("--version '" + options.version +
               "' may hold only letters, digits, '-', '.', '_' and '~'");
    if (!isBaseUrl(options.baseUrl))
        refuse("--base-url '" + options.baseUrl + "' is not an http:// or https:// address");
    if (!isBaseUrl(options.productPage))
        refuse("--product-page '" + options.productPage +
               "' is not an http:// or https:// address");
    if (options.minPlatformVersion && !isPlatformVersion(*options.minPlatformVersion))
        refuse("--min-platform-version '" + *options.minPlatformVersion +
               "' is not dotted numbers such as 6.1");
    const std::string installerName = fileNameOf(options.installer);
    if (!isUrlSafeName(installerName))
        refuse("the installer's file name '" + installerName +
               "' may hold only letters, digits, '-', '.', '_' and '~'");
}
} // namespace

PublishOptions parsePublishOptions(const std::vector<std::string>& arguments)
{
    if (!arguments.empty() && arguments.front() == "keygen")
        return keygenOptions({arguments.begin() + 1, arguments.end()});

    const SplitArguments split = splitArguments(
        arguments, {"--sku", "--platform", "--version", "--name", "--base-url", "--product-page",
                    "--notes", "--min-platform-version", "--sign-key", "--out"});
    PublishOptions options;
    if (split.help)
    {
        options.command = PublishOptions::Command::Help;
        return options;
    }
    options.sku = required(split, "--sku");
    options.platform = required(split, "--platform");
    options.version = required(split, "--version");
    options.name = required(split, "--name");
    options.baseUrl = withoutTrailingSlashes(required(split, "--base-url"));
    options.productPage = optional(split, "--product-page").value_or(options.baseUrl);
    options.notesFile = optional(split, "--notes");
    options.minPlatformVersion = optional(split, "--min-platform-version");
    options.signKeyFile = optional(split, "--sign-key");
    options.outFolder = required(split, "--out");
    if (split.positional.empty())
        refuse("missing the installer file");
    if (split.positional.size() > 1)
        refuse("more than one installer file: " + split.positional[0] + " and " +
               split.positional[1]);
    options.installer = split.positional.front();
    checkReleaseValues(options);
    return options;
}

std::string usageText()
{
    return R"(usage: updater-publish --sku SKU --platform windows|linux --version V --name NAME
                       --base-url URL [--product-page URL] [--notes FILE.html]
                       [--min-platform-version V] [--sign-key KEY] --out DIR INSTALLER
       updater-publish keygen --out KEY
       updater-publish --help

Publishes one release as a static tree that any web server, object store or CDN can serve:
  DIR/files/SKU/V/<installer file name>          a copy of INSTALLER
  DIR/api/resources/soft/SKU/PLATFORM/latest     the resources API answer naming it
The answer's permalink is URL/files/SKU/V/<installer file name>, so URL is the address the
tree is served at. `latest` is replaced in one step; older installers stay in place. The
version must be newer than the one already published for SKU and PLATFORM.

  --name NAME                 the product's name shown to users
  --product-page URL          the product's web page (default: the base URL)
  --notes FILE.html           release notes, an HTML text
  --min-platform-version V    the oldest platform version the release runs on
  --sign-key KEY              sign the release with this Ed25519 private key (PEM)

keygen writes a new Ed25519 private key to KEY (readable by its owner only) and prints the
public key on its last line, the value for the updater's CMake cache variable
UPDATER_SIGNING_PUBLIC_KEY.

Exit status: 0 when done, 1 when publishing failed, 2 when the command line is wrong.
)";
}

} // namespace Veltora::Publish
