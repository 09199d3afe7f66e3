#include "UpdateManager/core/EventSource.h"
#include "UpdateManager/core/Events.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Veltora;
using UpdateManager::ProductChangedEvent;

namespace
{
struct Recorder : IEventListener<ProductChangedEvent>
{
    explicit Recorder(std::vector<std::string>& sharedJournal, std::string listenerName)
        : journal(sharedJournal), name(std::move(listenerName))
    {
    }
    void onEvent(const ProductChangedEvent& event) override
    {
        journal.push_back(name + ":" + event.sku);
        if (onReceive)
            onReceive();
    }
    std::vector<std::string>& journal;
    std::string name;
    std::function<void()> onReceive;
};
} // namespace

TEST(EventSource, DeliversOncePerListenerUntilUnsubscribed)
{
    EventSource<ProductChangedEvent> source;
    std::vector<std::string> journal;
    source.fire({"nobody", "soft"});
    Recorder listener(journal, "a");
    source.subscribe(&listener);
    source.subscribe(&listener);
    source.fire({"X", "soft"});
    source.unsubscribe(&listener);
    source.unsubscribe(&listener);
    source.fire({"Y", "soft"});
    EXPECT_EQ(journal, (std::vector<std::string>{"a:X"}));
}

TEST(EventSource, DeliversInAddressOrderAndNestedEventsAtOnce)
{
    EventSource<ProductChangedEvent> source;
    std::vector<std::string> journal;
    Recorder pair[2] = {Recorder(journal, "first"), Recorder(journal, "second")};
    source.subscribe(&pair[1]);
    source.subscribe(&pair[0]);
    bool nested = false;
    pair[0].onReceive = [&]
    {
        if (!nested)
        {
            nested = true;
            source.fire({"inner", "soft"});
        }
    };
    source.fire({"outer", "soft"});
    EXPECT_EQ(journal, (std::vector<std::string>{"first:outer", "first:inner", "second:inner",
                                                 "second:outer"}));
}
