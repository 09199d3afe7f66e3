// Asks one URL for JSON with WebRequest::getJson under an address-space limit of 64 MiB
// above what the process already uses, and reports how its peak resident memory grew.
//
//     json_memory_probe URL
//
// Prints "parsed" or "refused", then "peak growth KiB: N". Exit status 0 when getJson
// returned, 3 when it ran out of memory under the limit, 2 on a usage error.
#include "UpdateManager/web/WebRequest.h"
#include "log/CLog.h"

#include <sys/resource.h>

#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <unistd.h>

namespace
{
constexpr long limitBytes = 64L * 1024 * 1024;

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The process's whole address space now, from /proc/self/statm (in pages).
long addressSpaceBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    statm >> pages;
    return pages * sysconf(_SC_PAGESIZE);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: json_memory_probe URL\n";
        return 2;
    }
    // Everything that exists for the whole run (the log writer thread, the client) is
    // made before the limit, so the limit measures the request alone.
    CLog::getInstance();
    Veltora::UpdateManager::WebRequest request;
    const auto allowed = static_cast<rlim_t>(addressSpaceBytes() + limitBytes);
    const rlimit limit{allowed, allowed};
    setrlimit(RLIMIT_AS, &limit);
    const long before = peakResidentKiB();
    try
    {
        boost::property_tree::ptree tree;
        const bool parsed = request.getJson(argv[1], tree);
        std::cout << (parsed ? "parsed" : "refused")
                  << "\npeak growth KiB: " << peakResidentKiB() - before << std::endl;
        return 0;
    }
    catch (const std::bad_alloc&)
    {
        std::cout << "out of memory\n";
        return 3;
    }
}
