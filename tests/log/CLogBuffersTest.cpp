#include "log/CLog.h"

#include "tests/support/InMemoryLogOutput.h"
#include "tests/support/TextSearch.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>

using namespace Veltora::Testing;

namespace
{
std::string numberedLine(int thread, int index)
{
    return "thread " + std::to_string(thread) + " line " + std::to_string(index) + " " +
           std::string(static_cast<std::size_t>(20 + index % 17), '.') + "\n";
}
} // namespace

TEST(LogBuffers, TwentyThreadsLoseAndCorruptNoLine)
{
    constexpr int threadCount = CLogBuffers::slotCount;
    constexpr int linesPerThread = 100;
    auto output = std::make_shared<InMemoryLogOutput>();
    {
        CLogBuffers buffers(output);
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread)
            threads.emplace_back(
                [&buffers, thread]
                {
                    for (int index = 0; index < linesPerThread; ++index)
                    {
                        const std::string line = numberedLine(thread, index);
                        buffers.append(line.data(), line.size());
                    }
                });
        for (std::thread& thread : threads)
            thread.join();
    }
    const std::string text = output->text();
    EXPECT_EQ(countOf(text, "Writing too fast"), 0u);
    EXPECT_EQ(countOf(text, "TOO MANY THREADS"), 0u);
    std::map<int, int> nextIndex;
    for (const std::string& line : splitLines(text))
    {
        if (line.rfind("thread ", 0) != 0)
            continue;
        int thread = -1;
        int index = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &thread, &index), 2) << line;
        EXPECT_EQ(line + "\n", numberedLine(thread, index));
        EXPECT_EQ(index, nextIndex[thread]) << "thread " << thread;
        nextIndex[thread] = index + 1;
    }
    ASSERT_EQ(nextIndex.size(), static_cast<std::size_t>(threadCount));
    for (const auto& [thread, next] : nextIndex)
        EXPECT_EQ(next, linesPerThread) << "thread " << thread;
}

TEST(LogBuffers, TheTwentyFirstThreadWritesDirectlyAfterAWarning)
{
    auto output = std::make_shared<InMemoryLogOutput>();
    {
        CLogBuffers buffers(output);
        std::vector<std::thread> owners;
        for (int thread = 0; thread < CLogBuffers::slotCount; ++thread)
            owners.emplace_back([&buffers] { buffers.append("owner\n", 6); });
        for (std::thread& thread : owners)
            thread.join();
        std::thread([&buffers] { buffers.append("the 21st\n", 9); }).join();
    }
    const std::string text = output->text();
    EXPECT_NE(text.find("WARNING : TOO MANY THREADS ARE WORKING TOGETHER- LOG CAN BE "
                        "CORRUPTED.\nthe 21st\n\n"),
              std::string::npos);
    EXPECT_EQ(countOf(text, "owner\n"), static_cast<std::size_t>(CLogBuffers::slotCount));
}

TEST(LogBuffers, ALineThatWrapsTheRingComesOutWhole)
{
    const std::string first = std::string(8999, 'a') + "\n";
    const std::string second = "wrap:" + std::string(1994, 'b') + "\n";
    auto output = std::make_shared<InMemoryLogOutput>();
    {
        CLogBuffers buffers(output);
        buffers.append(first.data(), first.size());
        // The stop's final flush reads the first line, so the ring's next line starts at
        // position 9000 and must wrap.
        buffers.stopThread();
        buffers.append(second.data(), second.size());
    }
    const std::string text = output->text();
    EXPECT_EQ(countOf(text, first), 1u);
    EXPECT_EQ(countOf(text, second), 1u);
    EXPECT_EQ(countOf(text, "Writing too fast"), 0u);
}

TEST(LogBuffers, AnOverrunIsReportedAndLosesNoReadText)
{
    auto output = std::make_shared<InMemoryLogOutput>();
    {
        CLogBuffers buffers(output);
        for (int index = 0; index < 10; ++index)
        {
            const std::string line =
                "burst " + std::to_string(index) + " " + std::string(4000, 'z') + "\n";
            buffers.append(line.data(), line.size());
        }
    }
    const std::string text = output->text();
    const std::size_t warnings =
        countOf(text, " [WRITE] Writing too fast, no time to read ! Msg: ");
    EXPECT_GE(warnings, 1u);
    for (int index = 0; index < 10; ++index)
    {
        const std::string line =
            "burst " + std::to_string(index) + " " + std::string(4000, 'z') + "\n";
        EXPECT_EQ(countOf(text, line), 1u) << "burst " << index;
    }
}

TEST(LogBuffers, LinesAppendedBeforeTheStopPrecedeFlushDone)
{
    auto output = std::make_shared<InMemoryLogOutput>();
    CLogBuffers buffers(output);
    buffers.append("before stop\n", 12);
    buffers.stopThread();
    buffers.stopThread();
    buffers.append("after stop\n", 11);
    buffers.stopThread();
    const std::string text = output->text();
    const auto line = text.find("before stop\n");
    const auto done = text.find("LOG FLUSH DONE ");
    ASSERT_NE(line, std::string::npos);
    ASSERT_NE(done, std::string::npos);
    EXPECT_LT(line, done);
    EXPECT_EQ(countOf(text, "LOG - START THREAD "), 2u);
    EXPECT_EQ(countOf(text, "LOG FLUSH DONE "), 2u);
    EXPECT_NE(text.find("after stop\n"), std::string::npos);
}
