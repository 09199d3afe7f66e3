// updater-publish: writes the static tree that serves one release to the updater (see
// usageText in PublishOptions.cpp), and makes the key that signs releases.
#include "tools/publish/PublishOptions.h"
#include "tools/publish/Publisher.h"

#include <boost/filesystem/operations.hpp>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace
{
constexpr int failed = 1;
constexpr int commandLineRejected = 2;

int fail(const std::string& reason, int status)
{
    std::cerr << "updater-publish: " << reason << std::endl;
    return status;
}
} // namespace

int main(int argc, char** argv)
{
    using namespace Veltora::Publish;
    try
    {
        const PublishOptions options = parsePublishOptions({argv + 1, argv + argc});
        switch (options.command)
        {
        case PublishOptions::Command::Help:
            std::cout << usageText();
            break;
        case PublishOptions::Command::Keygen:
            generateKey(options, std::cout);
            break;
        case PublishOptions::Command::Publish:
            publishRelease(options, std::cout);
            break;
        }
        std::cout.flush();
        return std::cout ? 0 : failed;
    }
    catch (const UsageError& error)
    {
        return fail(error.what(), commandLineRejected);
    }
    catch (const boost::filesystem::filesystem_error& error)
    {
        return fail(error.path1().string() + ": " + error.code().message(), failed);
    }
    catch (const std::exception& error)
    {
        return fail(error.what(), failed);
    }
}
