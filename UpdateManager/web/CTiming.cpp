#include "UpdateManager/web/CTiming.h"

#include "log/CLog.h"
#include "log/LogCategory.h"
#include "platform/Platform.h"

#include <utility>

namespace Veltora
{

CTiming::CTiming(std::string label, bool inMilliseconds, Clock clockSource)
    : name(std::move(label)), milliseconds(inMilliseconds), start(clockSource()), clock(clockSource)
{
}

CTiming::~CTiming()
{
    end = clock();
    CLog::getInstance()->log(LogCategory::timing, LogNotice, name, " : ", ticksToUnit(end - start),
                             " ", unitName());
}

std::int64_t CTiming::elapsed()
{
    end = clock();
    return ticksToUnit(end - start);
}

std::string CTiming::unitName() const
{
    return milliseconds ? "ms" : "micros";
}

CTiming::Clock CTiming::defaultClock()
{
    return &Platform::systemTimeTicks;
}

std::int64_t CTiming::ticksToUnit(std::int64_t ticks) const
{
    return ticks / (milliseconds ? 10000 : 10);
}

} // namespace Veltora
