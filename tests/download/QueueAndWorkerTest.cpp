#include "UpdateManager/download/ActiveDownloader.h"
#include "UpdateManager/download/SyncQueue.h"

#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace Veltora::UpdateManager;

namespace
{

TEST(SyncQueue, HandsOutItemsOldestFirst)
{
    SyncQueue<int> queue;
    int item = 0;
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.tryPop(item));
    for (int value : {3, 1, 2})
        queue.push(value);
    EXPECT_FALSE(queue.empty());
    std::vector<int> popped;
    while (queue.tryPop(item))
        popped.push_back(item);
    EXPECT_EQ(popped, (std::vector<int>{3, 1, 2}));
    EXPECT_TRUE(queue.empty());
}

TEST(SyncQueue, WaitAndPopBlocksUntilAnotherThreadPushes)
{
    SyncQueue<std::string> queue;
    std::vector<std::string> received;
    std::thread consumer(
        [&]
        {
            for (int count = 0; count < 1000; ++count)
            {
                std::string item;
                queue.waitAndPop(item);
                received.push_back(item);
            }
        });
    for (int count = 0; count < 1000; ++count)
        queue.push(std::to_string(count));
    consumer.join();
    ASSERT_EQ(received.size(), 1000u);
    for (int count = 0; count < 1000; ++count)
        EXPECT_EQ(received[static_cast<std::size_t>(count)], std::to_string(count));
}

TEST(ActiveDownloader, RunsJobsInOrderOnItsOwnThread)
{
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    {
        ActiveDownloader worker("soft/SKU");
        for (int index = 0; index < 100; ++index)
            worker.post(
                [&, index]
                {
                    order.push_back(index);
                    threads.push_back(std::this_thread::get_id());
                });
        worker.post(ActiveDownloader::Job()); // an empty job is skipped
    }
    ASSERT_EQ(order.size(), 100u);
    for (int index = 0; index < 100; ++index)
        EXPECT_EQ(order[static_cast<std::size_t>(index)], index);
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    for (const auto& thread : threads)
        EXPECT_EQ(thread, threads.front());
}

TEST(ActiveDownloader, DestructionRunsWhatWasPostedBeforeAndLogsStartAndExit)
{
    Veltora::Testing::LogCapture log({"download"});
    std::atomic<int> runs{0};
    {
        ActiveDownloader worker("soft/ABC");
        std::vector<std::thread> posters;
        for (int poster = 0; poster < 4; ++poster)
            posters.emplace_back(
                [&]
                {
                    for (int index = 0; index < 50; ++index)
                        worker.post([&] { ++runs; });
                });
        for (auto& poster : posters)
            poster.join();
    }
    EXPECT_EQ(runs.load(), 200);
    const std::string text = log.text();
    EXPECT_NE(text.find("ActiveDownloader Start Threadsoft/ABC"), std::string::npos) << text;
    EXPECT_NE(text.find("ActiveDownloader Exit Threadsoft/ABC"), std::string::npos) << text;
}

} // namespace
