#include "tests/e2e/UpdaterRunFixture.h"

#include "platform/Platform.h"
#include "tests/support/WaitUntil.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <sstream>

namespace fs = boost::filesystem;

namespace Veltora::Testing
{

namespace
{
int countPixels(const ScreenImage& image, const WindowGeometry& area,
                const std::function<bool(std::uint32_t)>& matches)
{
    int count = 0;
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + area.width; ++x)
            count += matches(image.pixel(x, y)) ? 1 : 0;
    return count;
}

bool inside(const WindowGeometry& area, int x, int y)
{
    return x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
}
} // namespace

void writeExecutable(const fs::path& file, const std::string& content)
{
    fs::create_directories(file.parent_path());
    writeFile(file, content);
    fs::permissions(file, fs::perms::owner_all);
}

std::string md5Of(const std::string& content)
{
    Poco::MD5Engine engine;
    engine.update(content.data(), content.size());
    return Poco::DigestEngine::digestToHex(engine.digest());
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream input(text);
    std::string line;
    while (std::getline(input, line))
        result.push_back(line);
    return result;
}

bool contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

// Where the bar would be, every pixel outside the buttons is the window's background (which
// also rules out a window that is not painted yet), and the buttons cover most of their own
// areas.
bool showsButtonsWithoutBar(const ScreenImage& panel)
{
    for (int y = barArea.y; y < barArea.y + barArea.height; ++y)
        for (int x = barArea.x; x < barArea.x + barArea.width; ++x)
            if (!inside(launchInstallerArea, x, y) && !inside(quitArea, x, y) &&
                panel.pixel(x, y) != windowBackground)
                return false;
    auto notBackground = [](std::uint32_t colour) { return colour != windowBackground; };
    const int buttonPixels = launchInstallerArea.width * launchInstallerArea.height;
    return countPixels(panel, launchInstallerArea, notBackground) > buttonPixels / 2 &&
           countPixels(panel, quitArea, notBackground) > buttonPixels / 2;
}

int filledBarColumns(const ScreenImage& panel)
{
    int filled = 0;
    for (int x = barArea.x; x < barArea.x + barArea.width; ++x)
    {
        const std::uint32_t colour = panel.pixel(x, barArea.y + 2);
        if (colour != barForeground && colour != barBackground)
            return -1;
        if (colour == barForeground && filled == x - barArea.x)
            ++filled;
    }
    return filled;
}

UpdaterRun::UpdaterRun() : screen(display.name(), root / "screen")
{
    fs::create_directories(downloads);
    fs::create_directories(home);
    fs::create_directories(work);
}

std::string UpdaterRun::installerScript(int exitCode, bool failFirstRun) const
{
    std::string script = "#!/bin/sh\n"
                         "{ printf '%s' \"$0\"; for a in \"$@\"; do printf '|%s' \"$a\"; "
                         "done; printf '\\n'; } >> '" +
                         installerRecord.string() + "'\n";
    if (failFirstRun)
        script += "[ -e '" + (root / "failed-once").string() + "' ] || { : > '" +
                  (root / "failed-once").string() + "'; exit 1; }\n";
    script += "exit " + std::to_string(exitCode) + "\n";
    while (script.size() < 256 * 1024)
        script += "# padding that the shell never reads, as it has exited above\n";
    return script;
}

void UpdaterRun::publishRelease(const std::string& installer,
                                const std::map<std::string, std::string>& extra)
{
    installerContent = installer;
    std::map<std::string, std::string> members = {
        {"product_sku", "\"" + sku + "\""},
        {"name", "\"End-to-end Product\""},
        {"version", "\"2.0\""},
        {"permalink", "\"" + server.url(installerPath) + "\""},
        {"resources_site_link", "\"http://example.invalid/e2e\""},
        {"size", std::to_string(installer.size())},
        {"checksum", "\"" + md5Of(installer) + "\""}};
    for (const auto& [name, value] : extra)
        members[name] = value;
    std::string resource;
    for (const auto& [name, value] : members)
        resource += (resource.empty() ? "" : ",") + ("\"" + name + "\":" + value);
    server.serveJson(resourcesPath(), "{\"total\":1,\"resources\":[{" + resource + "}]}");
    server.on(installerPath,
              [this](const RecordedRequest& request) { return installerReply(request); });
}

std::string UpdaterRun::resourcesPath() const
{
    return "/api/resources/soft/" + sku + "/" + Veltora::Platform::platformWord() + "/latest";
}

HttpReply UpdaterRun::installerReply(const RecordedRequest& request)
{
    HttpReply reply = HttpTestServer::contentReply(installerContent, request, RangeMode::Honour);
    if (transfersToCut.fetch_sub(1) > 0)
    {
        reply.ending = ReplyEnding::CloseAfterBytes;
        reply.bytesBeforeEnding = reply.body.size() / 2 / 8192 * 8192;
    }
    else if (stallHalfway)
    {
        reply.ending = ReplyEnding::StallAfterBytes;
        reply.bytesBeforeEnding = reply.body.size() / 2 / 8192 * 8192;
    }
    return reply;
}

std::vector<RecordedRequest> UpdaterRun::installerRequests() const
{
    std::vector<RecordedRequest> found;
    for (const RecordedRequest& request : server.requests())
        if (request.path() == installerPath)
            found.push_back(request);
    return found;
}

fs::path UpdaterRun::relaunchProbe()
{
    const fs::path probe = root / "product dir" / "probe.sh";
    writeExecutable(probe, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; "
                           "done > '" +
                               relaunchRecord.string() + "'\n");
    return probe;
}

ChildProcess::Options UpdaterRun::updaterOptions(const std::string& logLevels) const
{
    ChildProcess::Options options;
    options.environment = {{"DISPLAY", display.name()},
                           {"HOME", home.string()},
                           {"XDG_CONFIG_HOME", (home / ".config").string()},
                           {"XDG_DOWNLOAD_DIR", downloads.string()},
                           {"UPDATER_LOG", logLevels}};
    options.workingFolder = work;
    options.outputFile = root / "updater.out";
    return options;
}

std::unique_ptr<ChildProcess> UpdaterRun::startUpdater(const std::vector<std::string>& arguments,
                                                       const std::string& logLevels)
{
    return startUpdater(arguments, updaterOptions(logLevels));
}

std::unique_ptr<ChildProcess> UpdaterRun::startUpdater(const std::vector<std::string>& arguments,
                                                       const ChildProcess::Options& options,
                                                       const std::vector<std::string>& launcher)
{
    if (launcher.empty())
        return std::make_unique<ChildProcess>(updaterProgram, arguments, options);
    std::vector<std::string> launched(launcher.begin() + 1, launcher.end());
    launched.push_back(updaterProgram);
    launched.insert(launched.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>(launcher.front(), launched, options);
}

std::vector<std::string> UpdaterRun::standardArguments() const
{
    return {"--product-sku", sku, "--server", server.hostAndPort()};
}

std::vector<std::vector<std::string>> UpdaterRun::installerRuns() const
{
    std::vector<std::vector<std::string>> runs;
    for (const std::string& line : lines(readFile(installerRecord)))
    {
        std::vector<std::string> arguments;
        boost::algorithm::split(arguments, line, [](char c) { return c == '|'; });
        runs.push_back(arguments);
    }
    return runs;
}

std::vector<std::string> UpdaterRun::downloadedFiles() const
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(downloads))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<WindowGeometry> UpdaterRun::updaterWindow() const
{
    const auto window = screen.visibleWindow("Auto Update");
    return window ? screen.geometry(*window) : std::nullopt;
}

std::optional<WindowGeometry>
UpdaterRun::waitForWindowShowing(const std::function<bool(const ScreenImage&)>& shown,
                                 ChildProcess& updater)
{
    std::optional<WindowGeometry> found;
    waitUntil(
        [&]
        {
            if (!updater.running())
                return true;
            const auto window = updaterWindow();
            const auto image = window ? screen.capture(*window) : std::nullopt;
            if (image && image->width == 300 && image->height == 100 && shown(*image))
                found = window;
            return found.has_value();
        },
        runTimeout);
    return found;
}

bool UpdaterRun::clickPanel(const WindowGeometry& window, const WindowGeometry& area) const
{
    return screen.click(window.x + area.x + area.width / 2, window.y + area.y + area.height / 2);
}

} // namespace Veltora::Testing
