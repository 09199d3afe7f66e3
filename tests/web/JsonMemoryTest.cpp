#include "tests/support/HttpTestServer.h"
#include "tests/support/TextSearch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

using namespace Veltora::Testing;

namespace
{

constexpr std::size_t sixteenMegabytes = 16 * 1024 * 1024;

std::string repeatedResources(const std::string& element, std::size_t size)
{
    std::string text = R"({"total":1,"resources":[)" + element;
    while (text.size() + element.size() + 3 < size)
        text += "," + element;
    return text + "]}";
}

struct ProbeResult
{
    int exitStatus = -1;
    std::string output;
};

// Runs the probe against `url` in its own process, so that its address-space limit and
// its peak memory belong to the request alone.
ProbeResult probe(const std::string& url)
{
    ProbeResult result;
    std::FILE* pipe = popen((std::string(JSON_MEMORY_PROBE) + " '" + url + "'").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        result.output += buffer;
    const int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

long peakGrowthKiB(const std::string& output)
{
    const std::string label = "peak growth KiB: ";
    const auto start = output.find(label);
    return start == std::string::npos ? -1 : std::stol(output.substr(start + label.size()));
}

struct AnswerCase
{
    const char* name;
    std::string element;
    bool chunked;
    bool sendContentLength;
    std::size_t size;
    const char* outcome;
};

void PrintTo(const AnswerCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class JsonAnswerMemory : public ::testing::TestWithParam<AnswerCase>
{
};

// A 16 MB answer of `[0,0,...]` or `[{},{},...]` once took gigabytes. Refused or parsed, an
// answer must stay within 64 MiB of address space above what the process already holds.
TEST_P(JsonAnswerMemory, StaysWithin64MiB)
{
    const auto& param = GetParam();
    HttpTestServer server;
    HttpReply reply = HttpReply::json(repeatedResources(param.element, param.size));
    reply.chunked = param.chunked;
    reply.chunkBytes = 64 * 1024;
    reply.sendContentLength = param.sendContentLength;
    server.reply("/api", reply);

    const ProbeResult result = probe(server.url("/api"));

    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find(param.outcome), std::string::npos) << result.output;
    const long growth = peakGrowthKiB(result.output);
    EXPECT_GE(growth, 0) << result.output;
    EXPECT_LT(growth, 64 * 1024) << result.output;
    RecordProperty("peak_growth_KiB", std::to_string(growth));
    std::cout << param.name << ": peak growth " << growth << " KiB\n";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, JsonAnswerMemory,
    ::testing::Values(
        AnswerCase{"NumbersWithLength", "0", false, true, sixteenMegabytes, "refused"},
        AnswerCase{"NumbersChunked", "0", true, false, sixteenMegabytes, "refused"},
        AnswerCase{"NumbersWithoutLength", "0", false, false, sixteenMegabytes, "refused"},
        AnswerCase{"EmptyObjectsWithLength", "{}", false, true, sixteenMegabytes, "refused"},
        AnswerCase{"EmptyObjectsChunked", "{}", true, false, sixteenMegabytes, "refused"},
        AnswerCase{"NumbersJustWithinTheBounds", "0", false, true, 39000, "parsed"},
        AnswerCase{"ObjectsJustWithinTheBounds", "{\"a\":\"b\"}", true, false, 99000, "parsed"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
