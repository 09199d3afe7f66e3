#include "log/CLog.h"
#include "platform/Platform.h"

#include "tests/support/CapturedStdout.h"
#include "tests/support/InMemoryLogOutput.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TextSearch.h"

#include <boost/filesystem/path.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <regex>
#include <thread>

using namespace Veltora::Testing;

namespace
{
// Most tests make an engine of their own that writes into memory; the tests of the
// process-wide engine start and end without one.
class LogEngine : public ::testing::Test
{
protected:
    void SetUp() override { CLog::destroyInstance(); }
    void TearDown() override { CLog::destroyInstance(); }

    // Everything the engine wrote, after a flush of what its buffers still hold.
    std::string writtenBy(CLog& engine)
    {
        engine.stopThread();
        return output->text();
    }

    static std::string messageOf(const std::string& line)
    {
        const auto separator = line.rfind(" | ");
        return separator == std::string::npos ? line : line.substr(separator + 3);
    }

    std::shared_ptr<InMemoryLogOutput> output = std::make_shared<InMemoryLogOutput>();
};
} // namespace

TEST_F(LogEngine, WritesOnlyEnabledCategoriesAtOrAboveTheirLevel)
{
    CLog engine(output);
    engine.log("install", LogAssert, "not enabled yet");
    engine.setCategoryLevel("install", LogWarning);
    for (int level = LogDebug; level <= LogAssert; ++level)
        engine.log("install", level, "install level ", level);
    engine.log("download", LogAssert, "download is off");
    const std::string text = writtenBy(engine);
    EXPECT_EQ(countOf(text, "install level "), 4u);
    EXPECT_EQ(countOf(text, "install level 2"), 0u);
    EXPECT_EQ(countOf(text, "install level 3"), 1u);
    EXPECT_EQ(countOf(text, "not enabled yet"), 0u);
    EXPECT_EQ(countOf(text, "download is off"), 0u);
}

TEST_F(LogEngine, JoinsPiecesWithoutSeparatorsAndQuotesPaths)
{
    CLog engine(output);
    engine.setCategoryLevel("update_manager", LogDebug);
    engine.log("update_manager", LogInfo, "Found ", std::string("1.2.0"), " for item ", "X");
    engine.log("update_manager", LogInfo, std::int32_t{-7}, ":", std::int64_t{1} << 40);
    engine.log("update_manager", LogInfo, boost::filesystem::path("C:\\Temp"));
    engine.log("update_manager", LogInfo, boost::filesystem::path("a&b\"c"));
    std::vector<std::string> messages;
    for (const std::string& line : splitLines(writtenBy(engine)))
        if (line.rfind("[LOG] ", 0) == 0)
            messages.push_back(messageOf(line));
    EXPECT_EQ(messages, (std::vector<std::string>{"Found 1.2.0 for item X", "-7:1099511627776",
                                                  "\"C:\\Temp\"", "\"a&&b&\"c\""}));
}

TEST_F(LogEngine, FormatsTheColumnsOfALine)
{
    CLog engine(output);
    std::ostringstream message;
    message << "m";
    const std::string line = engine.formatLine("web", LogError, message);
    const std::regex layout(R"(\[LOG\] (\d+) *\| (\d+) *\| web {12} \| error  \| m\n)");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, layout)) << line;
    EXPECT_EQ(line.find(" | "), 6u + std::max<std::size_t>(6, parts[1].length()));

    const std::string longCategory =
        engine.formatLine("a_category_longer_than_fifteen", LogInfo, message);
    EXPECT_NE(longCategory.find("| a_category_longer_than_fifteen | info   | m\n"),
              std::string::npos);

    std::ostringstream multiLine;
    multiLine << "one\ntwo";
    const std::string twoLines = engine.formatLine("web", LogDebug, multiLine);
    EXPECT_EQ(twoLines.substr(twoLines.size() - 9), " one\ntwo\n");
}

TEST_F(LogEngine, CutsLinesLongerThanTheRingAllows)
{
    CLog engine(output);
    engine.setCategoryLevel("web", LogDebug);
    engine.log("web", LogInfo, std::string(12000, 'x'));
    const std::string text = writtenBy(engine);
    const auto start = text.find("[LOG] ");
    ASSERT_NE(start, std::string::npos);
    // The cut line has lost its line feed, so the stop's last lifecycle line follows it.
    EXPECT_EQ(text[start + 9998], 'x');
    EXPECT_EQ(text.compare(start + 9999, 15, "LOG FLUSH DONE "), 0);
}

TEST_F(LogEngine, PrintsItsLifecycleLinesInOrder)
{
    CLog* engine = CLog::createInstance(output);
    engine->setCategoryLevel("install", LogDebug);
    engine->log("install", LogInfo, "last words");
    CLog::destroyInstance();
    CLog::destroyInstance();
    const std::vector<std::string> lines = splitLines(output->text());
    ASSERT_EQ(lines.size(), 6u) << output->text();
    EXPECT_EQ(lines[0], "#### Log engine initialization.");
    const std::string module = Veltora::Platform::modulePath();
    EXPECT_FALSE(module.empty());
    EXPECT_EQ(lines[1], "LOG - START THREAD " + module);
    EXPECT_EQ(lines[2], "LOG - STOP THREAD asked " + module);
    EXPECT_EQ(messageOf(lines[3]), "last words");
    EXPECT_EQ(lines[4], "LOG FLUSH DONE " + module);
    EXPECT_EQ(lines[5], "#### Log engine destruction.");
}

TEST_F(LogEngine, ConcurrentFirstCallsCreateOneEngine)
{
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::vector<CLog*> engines(8, nullptr);
    for (std::size_t index = 0; index < engines.size(); ++index)
        threads.emplace_back(
            [&, index]
            {
                while (!go)
                    std::this_thread::yield();
                engines[index] = CLog::createInstance(output);
                engines[index]->log("web", LogError, "suppressed");
            });
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    for (CLog* engine : engines)
        EXPECT_EQ(engine, engines.front());
    EXPECT_EQ(CLog::getInstance(), engines.front());
    CLog::destroyInstance();
    EXPECT_EQ(countOf(output->text(), "#### Log engine initialization."), 1u);
}

// The engine that getInstance makes writes to standard output, and a failed state of the
// stream from before does not swallow its lines.
TEST_F(LogEngine, TheProcessEngineWritesToStandardOutput)
{
    CapturedStdout captured;
    std::cout.setstate(std::ios::badbit);
    CLog* engine = CLog::getInstance();
    engine->setCategoryLevel("web", LogDebug);
    engine->log("web", LogInfo, "on standard output");
    CLog::destroyInstance();
    const std::vector<std::string> lines = splitLines(captured.text());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "#### Log engine initialization.");
    EXPECT_EQ(messageOf(lines[3]), "on standard output");
    EXPECT_EQ(lines[5], "#### Log engine destruction.");
}

TEST_F(LogEngine, ReadsCategoryLevelsFromTheEnvironment)
{
    ScopedEnvironment environment;
    environment.set("UPDATER_LOG", "update_manager=debug,web=4,,broken,=info,install=loud");
    CLog engine(output);
    EXPECT_TRUE(engine.isEnabled("update_manager", LogDebug));
    EXPECT_FALSE(engine.isEnabled("web", LogWarning));
    EXPECT_TRUE(engine.isEnabled("web", LogError));
    EXPECT_FALSE(engine.isEnabled("install", LogAssert));
    EXPECT_FALSE(engine.isEnabled("broken", LogAssert));
}
