// The main of the benchmarks whose code logs: the log engine's writer thread is stopped
// before the program ends, so that no line is written while static objects are destroyed.
#include "log/CLog.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CLog::destroyInstance();
    return 0;
}
