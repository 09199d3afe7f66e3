#pragma once

#include "log/LogOutput.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>

// Full path of the module file that holds the logging code.
std::string getModulePath();

// Per-thread ring buffers between logging threads and the log output (standard output
// unless another is given). A logging thread only copies its line into its own ring; one
// writer thread drains every ring to the output every 200 ms. Each ring has one producer
// (its owner) and one consumer (the writer).
//
// Overrun policy: a line that would overtake text the writer has not read yet is printed
// directly with a warning and not copied into the ring, so unread text is never touched.
class CLogBuffers
{
public:
    static constexpr int slotCount = 20;
    static constexpr int ringSize = 10000;
    static constexpr int maxLineLength = ringSize - 1;
    static constexpr auto writerPeriod = std::chrono::milliseconds(200);

    // Writes to standard output.
    CLogBuffers();
    // Writes to the given output (standard output when it is null).
    explicit CLogBuffers(std::shared_ptr<LogOutput> output);
    ~CLogBuffers();
    CLogBuffers(const CLogBuffers&) = delete;
    CLogBuffers& operator=(const CLogBuffers&) = delete;

    // Starts the writer thread unless it runs already.
    void startThread();
    // Requests a stop, waits for the writer's final flush and collects it.
    void stopThread();
    // Adds `length` bytes (at most maxLineLength) to the calling thread's ring.
    void append(const char* line, std::size_t length);

protected:
    // Writes a text straight to the output, bypassing the rings.
    void writeDirect(const std::string& text);

private:
    struct LogSlot
    {
        std::atomic<std::uint64_t> owner{0};
        std::atomic<bool> inUse{false};
        std::atomic<std::int32_t> readIndex{0};
        std::atomic<std::int32_t> writeIndex{0};
    };

    LogSlot* slotOfCallingThread();
    bool wouldOvertakeUnreadText(std::int32_t writeIndex, std::int32_t readIndex,
                                 std::size_t length) const;
    void copyIntoRing(LogSlot& slot, int slotIndex, const char* line, std::size_t length);
    void flush();
    void writerLoop();

    std::shared_ptr<LogOutput> output;
    std::string moduleName;
    std::mutex threadMutex;
    std::atomic<bool> stopRequested{true};
    std::future<void> writer;
    std::atomic<bool> writerRunning{false};
    // Lets a stop request end the writer's sleep at once instead of after up to 200 ms.
    std::mutex wakeMutex;
    std::condition_variable wakeWriter;
    std::unique_ptr<char[]> buffer;
    std::array<LogSlot, slotCount> slots;
};
