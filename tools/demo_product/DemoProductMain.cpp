// The demo product and its installer, in one small program.
//
// Installed as "veltora-demo" ("veltora-demo.exe" on Windows) it is the product: it says
// which version started (from the VERSION file beside it) and with which arguments, and
// with VELTORA_DEMO_RECORD set it also writes them to that file, one argument a line.
//
// Under any other name it is the installer of a release: it copies itself to
// $VELTORA_DEMO_HOME/bin/veltora-demo (default ~/.local/share/veltora-demo) and records
// its version there, and adds a line to bin/INSTALLS saying whether it ran silently. It
// takes "/SILENT" as the updater passes it and exits 0 on success.
// VELTORA_DEMO_VERSION overrides the version it installs (the demo uses it to set up an
// older installation first). While the file VELTORA_DEMO_FAIL_ONCE names exists, the
// installer removes it and fails with exit code 1 (so a retry succeeds).
#include "platform/Platform.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

namespace fs = boost::filesystem;

namespace
{
const std::string productName = std::string("veltora-demo") + DEMO_EXECUTABLE_SUFFIX;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

fs::path installFolder()
{
    const std::string chosen = environment("VELTORA_DEMO_HOME");
    if (!chosen.empty())
        return chosen;
    const std::string home = environment("HOME");
    if (home.empty())
        throw std::runtime_error("neither VELTORA_DEMO_HOME nor HOME is set");
    return fs::path(home) / ".local" / "share" / "veltora-demo";
}

// Written under another name and renamed, so the product never sees half a file.
void replaceFile(const fs::path& target, const std::string& content)
{
    const fs::path partial = target.string() + ".partial";
    {
        fs::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out.flush())
            throw std::runtime_error("cannot write " + partial.string());
    }
    fs::rename(partial, target);
}

int runProduct(const fs::path& self, int argc, char** argv)
{
    std::string version = "unknown";
    fs::ifstream versionFile(self.parent_path() / "VERSION");
    std::getline(versionFile, version);

    std::cout << "Veltora Demo " << version << " started with " << argc - 1 << " argument"
              << (argc == 2 ? "" : "s") << (argc > 1 ? ":" : ".");
    for (int index = 1; index < argc; ++index)
        std::cout << " [" << argv[index] << "]";
    std::cout << std::endl;

    const std::string record = environment("VELTORA_DEMO_RECORD");
    if (!record.empty())
    {
        std::string lines = "version " + version + "\n";
        for (int index = 1; index < argc; ++index)
            lines += std::string("argument ") + argv[index] + "\n";
        replaceFile(record, lines);
    }
    return 0;
}

// A failure on request, once, for the updater's "Launch Installer" retry.
bool failsThisTime()
{
    const std::string marker = environment("VELTORA_DEMO_FAIL_ONCE");
    return !marker.empty() && fs::remove(marker);
}

int runInstaller(const fs::path& self, int argc, char** argv)
{
    const bool silent = argc > 1 && std::string(argv[1]) == "/SILENT";
    const std::string chosenVersion = environment("VELTORA_DEMO_VERSION");
    const std::string version = chosenVersion.empty() ? DEMO_RELEASE_VERSION : chosenVersion;
    const fs::path bin = installFolder() / "bin";

    std::cout << "Veltora Demo installer " << version << (silent ? " (silent)" : " (interactive)")
              << ": installing into " << bin.string() << std::endl;
    if (failsThisTime())
    {
        std::cout << "Veltora Demo installer: failing once, as asked" << std::endl;
        return 1;
    }
    fs::create_directories(bin);
    const fs::path partial = bin / (productName + ".partial");
    fs::copy_file(self, partial, fs::copy_options::overwrite_existing);
    fs::permissions(partial, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exe |
                                 fs::perms::others_read | fs::perms::others_exe);
    fs::rename(partial, bin / productName);
    replaceFile(bin / "VERSION", version + "\n");
    fs::ofstream(bin / "INSTALLS", std::ios::app | std::ios::binary)
        << version << (silent ? " silent" : " interactive") << "\n";
    std::cout << "Veltora Demo installer: version " << version << " installed" << std::endl;
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    try
    {
        const fs::path self = Veltora::Platform::modulePath();
        if (self.filename() == productName)
            return runProduct(self, argc, argv);
        return runInstaller(self, argc, argv);
    }
    catch (const std::exception& error)
    {
        std::cout << "Veltora Demo: " << error.what() << std::endl;
        return 1;
    }
}
