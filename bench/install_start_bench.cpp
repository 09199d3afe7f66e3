// Time from startInstall to the installer being back on the finished ring, with a
// program that exits at once (a copy of /bin/true) as the installer: the thread wakes
// for a queued installer instead of finding it on its next 500 ms poll.
//
// Run: build/bench/install_start_bench
#include "UpdateManager/install/InstallThread.h"
#include "UpdateManager/install/Installer.h"

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <thread>

using namespace Veltora::UpdateManager;
namespace fs = boost::filesystem;

namespace
{
void installerRoundTrip(benchmark::State& state)
{
    const fs::path folder = fs::temp_directory_path() / fs::unique_path("install-bench-%%%%");
    fs::create_directories(folder);
    const fs::path program = folder / "Setup.exe";
    fs::copy_file("/bin/true", program);
    Installer installer;
    installer.setSource("http://host/Setup.exe", program);
    InstallThread* thread = InstallThread::getInstance();

    for (auto _ : state)
    {
        installer.setStatus(InstallInProgress);
        installer.startInstall();
        while (thread->popFinished() != &installer)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        if (installer.getStatus() != InstallComplete)
            state.SkipWithError("the installer did not complete");
    }
    InstallThread::destroyInstance();
    fs::remove_all(folder);
}
BENCHMARK(installerRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
} // namespace
