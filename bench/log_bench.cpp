// Cost of a log call: a disabled one (the common case: categories are off by default)
// and an enabled one (composition, line format and the copy into the thread's ring).
// Run: build/bench/log_bench | grep -E "^(disabled|enabled)Call"
// (the engine writes its own lines to standard output too)
#include "log/CLog.h"
#include "log/LogCategory.h"

#include <benchmark/benchmark.h>

#include <string>

namespace
{
void disabledCall(benchmark::State& state)
{
    CLog* engine = CLog::getInstance();
    const std::string version = "1.2.0";
    for (auto _ : state)
        engine->log(LogCategory::updateManager, LogDebug, "Found ", version, " for item ", 42);
}
BENCHMARK(disabledCall);

void enabledCall(benchmark::State& state)
{
    CLog* engine = CLog::getInstance();
    engine->setCategoryLevel(LogCategory::download, LogDebug);
    const std::string version = "1.2.0";
    int sinceDrain = 0;
    for (auto _ : state)
    {
        engine->log(LogCategory::download, LogInfo, "Found ", version, " for item ", 42);
        // Let the writer drain the ring before it would overrun, outside the timing.
        if (++sinceDrain == 80)
        {
            state.PauseTiming();
            engine->stopThread();
            sinceDrain = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(enabledCall);
} // namespace
