#include "platform/Platform.h"

#include <chrono>
#include <dlfcn.h>
#include <unistd.h>

namespace Veltora::Platform
{

std::uint64_t currentThreadId()
{
    return static_cast<std::uint64_t>(gettid());
}

std::int64_t systemTimeTicks()
{
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string modulePath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&modulePath), &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fname[0] == '/')
        return info.dli_fname;
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

const char* platformWord()
{
    return "linux";
}

} // namespace Veltora::Platform
