// A download job (transfer, size and MD5 check) against curl fetching the same file
// followed by md5sum hashing it, both from the tests' loopback HTTP server (which sends
// files straight from disk), in the same run and alternating. Reports per size: the job's
// time, curl + md5sum's time, their ratio ("ratio"), the ratio of processor time used
// (server included, "cpu_ratio"), and the job's peak resident memory and its growth over
// the memory in use before the job. The "resume" rows start from a partial file holding
// the first half.
//
// Run: build/bench/download_bench   (needs curl and md5sum; uses the temporary folder)
#include "UpdateManager/download/DownloaderBackgrounder.h"
#include "tests/support/HttpTestServer.h"

#include <benchmark/benchmark.h>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace Veltora::UpdateManager;
namespace fs = boost::filesystem;

namespace
{
constexpr std::int64_t mebibyte = 1024 * 1024;

std::int64_t statusFieldKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stoll(line.substr(prefix.size()));
    return 0;
}

// Makes the peak resident size start again from the present size.
void resetPeakResidentSize()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string md5sumOf(const fs::path& file)
{
    std::FILE* pipe = popen(("md5sum '" + file.string() + "'").c_str(), "r");
    char digest[33] = {};
    const std::size_t count = pipe ? std::fread(digest, 1, 32, pipe) : 0;
    if (pipe)
        pclose(pipe);
    return std::string(digest, count);
}

// Source files of each size, made once, with their MD5.
struct Source
{
    std::string name;
    std::int64_t size = 0;
    std::string md5;
};

class Fixture
{
public:
    Fixture()
        : root(fs::temp_directory_path() / fs::unique_path("download-bench-%%%%-%%%%")),
          sources(root / "served"), output(root / "output")
    {
        fs::create_directories(sources);
        fs::create_directories(output);
        server.serveFolder(sources);
    }
    ~Fixture()
    {
        server.stop();
        fs::remove_all(root);
    }

    const Source& source(std::int64_t mebibytes)
    {
        auto found = made.find(mebibytes);
        if (found != made.end())
            return found->second;
        Source created{"installer-" + std::to_string(mebibytes) + ".bin", mebibytes * mebibyte, ""};
        writePatterned(sources / created.name, created.size);
        created.md5 = md5sumOf(sources / created.name);
        return made.emplace(mebibytes, created).first->second;
    }

    std::string url(const Source& from) const { return server.url("/" + from.name); }
    fs::path outputFile(const std::string& name) const { return output / name; }
    fs::path sourceFile(const Source& from) const { return sources / from.name; }

private:
    static void writePatterned(const fs::path& file, std::int64_t size)
    {
        fs::ofstream out(file, std::ios::binary);
        std::vector<std::uint32_t> block(static_cast<std::size_t>(mebibyte / 4));
        std::uint32_t seed = 12345;
        for (std::int64_t written = 0; written < size; written += mebibyte)
        {
            for (auto& word : block)
                word = seed = seed * 1664525u + 1013904223u;
            out.write(reinterpret_cast<const char*>(block.data()), mebibyte);
        }
    }

    fs::path root;
    fs::path sources;
    fs::path output;
    Veltora::Testing::HttpTestServer server;
    std::map<std::int64_t, Source> made;
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

void placePartialFile(const fs::path& from, const fs::path& to, std::int64_t bytes)
{
    fs::remove(to);
    if (bytes == 0)
        return;
    fs::ifstream in(from, std::ios::binary);
    fs::ofstream out(to, std::ios::binary);
    std::vector<char> block(static_cast<std::size_t>(mebibyte));
    for (std::int64_t copied = 0; copied < bytes; copied += mebibyte)
    {
        in.read(block.data(), mebibyte);
        out.write(block.data(), mebibyte);
    }
}

double cpuSecondsOf(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor time of this process (the server included) and of finished children.
double cpuSecondsNow()
{
    return cpuSecondsOf(RUSAGE_SELF) + cpuSecondsOf(RUSAGE_CHILDREN);
}

double secondsOf(const std::function<void()>& work)
{
    const auto begin = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

void downloadAgainstCurl(benchmark::State& state)
{
    const Source& source = fixture().source(state.range(0));
    const std::int64_t partialBytes = source.size * state.range(1) / 100;
    const fs::path jobFile = fixture().outputFile("job.bin");
    const fs::path curlFile = fixture().outputFile("curl.bin");
    const std::string curlCommand = "curl -sS " + std::string(partialBytes > 0 ? "-C - " : "") +
                                    "-o '" + curlFile.string() + "' '" + fixture().url(source) +
                                    "' && md5sum '" + curlFile.string() + "' > /dev/null";
    DownloaderBackgrounder downloader("bench");
    double jobSeconds = 0;
    double curlSeconds = 0;
    double jobCpu = 0;
    double curlCpu = 0;
    std::int64_t peakKiB = 0;
    std::int64_t growthKiB = 0;
    std::int64_t iteration = 0;

    for (auto _ : state)
    {
        const auto runJob = [&]
        {
            placePartialFile(fixture().sourceFile(source), jobFile, partialBytes);
            const std::int64_t before = statusFieldKiB("VmRSS");
            resetPeakResidentSize();
            const double cpuBefore = cpuSecondsNow();
            const double seconds = secondsOf(
                [&]
                {
                    downloader.start({fixture().url(source), jobFile.string(), source.md5,
                                      source.size, partialBytes, std::string()});
                    while (downloader.state() == static_cast<int>(DownloadState::Idle) ||
                           downloader.state() == static_cast<int>(DownloadState::Downloading))
                        std::this_thread::sleep_for(std::chrono::microseconds(200));
                });
            jobCpu += cpuSecondsNow() - cpuBefore;
            if (downloader.state() != static_cast<int>(DownloadState::Completed))
                state.SkipWithError("the download job did not complete");
            peakKiB = std::max(peakKiB, statusFieldKiB("VmHWM"));
            growthKiB = std::max(growthKiB, statusFieldKiB("VmHWM") - before);
            jobSeconds += seconds;
            state.SetIterationTime(seconds);
        };
        const auto runCurl = [&]
        {
            placePartialFile(fixture().sourceFile(source), curlFile, partialBytes);
            const double cpuBefore = cpuSecondsNow();
            curlSeconds += secondsOf(
                [&]
                {
                    if (std::system(curlCommand.c_str()) != 0)
                        state.SkipWithError("curl or md5sum failed");
                });
            curlCpu += cpuSecondsNow() - cpuBefore;
        };
        // Alternating the order spreads any drift of the machine over both.
        if (iteration++ % 2 == 0)
        {
            runJob();
            runCurl();
        }
        else
        {
            runCurl();
            runJob();
        }
        fs::remove(jobFile);
        fs::remove(curlFile);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["job_s"] = jobSeconds / runs;
    state.counters["curl_md5sum_s"] = curlSeconds / runs;
    state.counters["ratio"] = jobSeconds / curlSeconds;
    state.counters["cpu_ratio"] = jobCpu / curlCpu;
    state.counters["peak_rss_MiB"] = static_cast<double>(peakKiB) / 1024.0;
    state.counters["rss_growth_MiB"] = static_cast<double>(growthKiB) / 1024.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(runs) * (source.size - partialBytes));
}
BENCHMARK(downloadAgainstCurl)
    ->ArgNames({"MiB", "resume%"})
    ->Args({16, 0})
    ->Args({64, 0})
    ->Args({256, 0})
    ->Args({256, 50})
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
} // namespace
