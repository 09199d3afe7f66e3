#include "log/CLogBuffers.h"

#include "log/StandardOutput.h"
#include "platform/Platform.h"

#include <cstring>
#include <utility>

std::string getModulePath()
{
    return Veltora::Platform::modulePath();
}

CLogBuffers::CLogBuffers() : CLogBuffers(nullptr) {}

CLogBuffers::CLogBuffers(std::shared_ptr<LogOutput> chosenOutput)
    : output(chosenOutput != nullptr ? std::move(chosenOutput)
                                     : std::make_shared<StandardOutput>()),
      moduleName(getModulePath()),
      buffer(std::make_unique<char[]>(static_cast<std::size_t>(slotCount + 1) * ringSize))
{
}

CLogBuffers::~CLogBuffers()
{
    stopThread();
}

void CLogBuffers::startThread()
{
    if (writerRunning.load())
        return;
    std::lock_guard<std::mutex> lock(threadMutex);
    if (writer.valid())
        return;
    writeDirect("LOG - START THREAD " + moduleName + "\n");
    stopRequested = false;
    writer = std::async(std::launch::async, &CLogBuffers::writerLoop, this);
    writerRunning = true;
}

void CLogBuffers::stopThread()
{
    std::lock_guard<std::mutex> lock(threadMutex);
    if (!writer.valid())
        return;
    writeDirect("LOG - STOP THREAD asked " + moduleName + "\n");
    {
        std::lock_guard<std::mutex> wakeLock(wakeMutex);
        stopRequested = true;
    }
    wakeWriter.notify_all();
    std::future<void> finished = std::move(writer);
    writerRunning = false;
    finished.get();
    writeDirect("LOG FLUSH DONE " + moduleName + "\n");
}

void CLogBuffers::append(const char* line, std::size_t length)
{
    startThread();
    LogSlot* slot = slotOfCallingThread();
    if (slot == nullptr)
    {
        writeDirect("WARNING : TOO MANY THREADS ARE WORKING TOGETHER- LOG CAN BE CORRUPTED.\n" +
                    std::string(line, length) + "\n");
        return;
    }
    const std::int32_t writeIndex = slot->writeIndex.load();
    const std::int32_t readIndex = slot->readIndex.load();
    if (wouldOvertakeUnreadText(writeIndex, readIndex, length))
    {
        writeDirect(" [WRITE] Writing too fast, no time to read ! Msg: " +
                    std::string(line, length) + "\n");
        return;
    }
    copyIntoRing(*slot, static_cast<int>(slot - slots.data()), line, length);
}

CLogBuffers::LogSlot* CLogBuffers::slotOfCallingThread()
{
    const std::uint64_t self = Veltora::Platform::currentThreadId();
    for (LogSlot& slot : slots)
    {
        if (slot.inUse.load())
        {
            if (slot.owner.load() == self)
                return &slot;
            continue;
        }
        // Claiming with a compare-and-set keeps two threads that log for the first time
        // at the same moment from sharing a slot.
        bool expected = false;
        if (slot.inUse.compare_exchange_strong(expected, true))
        {
            slot.owner = self;
            return &slot;
        }
    }
    return nullptr;
}

// A ring that would become exactly full is refused too: its write index would equal its
// read index, which reads as "nothing pending" and would lose the whole ring.
bool CLogBuffers::wouldOvertakeUnreadText(std::int32_t writeIndex, std::int32_t readIndex,
                                          std::size_t length) const
{
    const auto end = static_cast<std::int64_t>(writeIndex) + static_cast<std::int64_t>(length);
    if (readIndex > writeIndex)
        return end >= readIndex;
    if (readIndex < writeIndex)
        return end >= static_cast<std::int64_t>(readIndex) + ringSize;
    return false;
}

void CLogBuffers::copyIntoRing(LogSlot& slot, int slotIndex, const char* line, std::size_t length)
{
    char* ring = buffer.get() + static_cast<std::size_t>(slotIndex) * ringSize;
    const std::int32_t writeIndex = slot.writeIndex.load();
    const auto count = static_cast<std::int32_t>(length);
    if (writeIndex + count > ringSize)
    {
        const std::int32_t tailRoom = ringSize - writeIndex;
        std::memcpy(ring + writeIndex, line, static_cast<std::size_t>(tailRoom));
        std::memcpy(ring, line + tailRoom, static_cast<std::size_t>(count - tailRoom));
        slot.writeIndex = writeIndex + count - ringSize;
    }
    else
    {
        std::memcpy(ring + writeIndex, line, length);
        slot.writeIndex = writeIndex + count;
    }
}

void CLogBuffers::flush()
{
    char* scratch = buffer.get() + static_cast<std::size_t>(slotCount) * ringSize;
    for (int index = 0; index < slotCount; ++index)
    {
        LogSlot& slot = slots[static_cast<std::size_t>(index)];
        const std::int32_t writeIndex = slot.writeIndex.load();
        const std::int32_t readIndex = slot.readIndex.load();
        if (!slot.inUse.load() || writeIndex == readIndex)
            continue;
        const char* ring = buffer.get() + static_cast<std::size_t>(index) * ringSize;
        std::size_t gathered = 0;
        if (writeIndex < readIndex)
        {
            const auto tail = static_cast<std::size_t>(ringSize - readIndex);
            std::memcpy(scratch, ring + readIndex, tail);
            std::memcpy(scratch + tail, ring, static_cast<std::size_t>(writeIndex));
            gathered = tail + static_cast<std::size_t>(writeIndex);
        }
        else
        {
            gathered = static_cast<std::size_t>(writeIndex - readIndex);
            std::memcpy(scratch, ring + readIndex, gathered);
        }
        slot.readIndex = writeIndex;
        output->write(scratch, gathered);
    }
}

void CLogBuffers::writeDirect(const std::string& text)
{
    output->write(text.data(), text.size());
}

void CLogBuffers::writerLoop()
{
    while (!stopRequested.load())
    {
        flush();
        std::unique_lock<std::mutex> lock(wakeMutex);
        wakeWriter.wait_for(lock, writerPeriod, [this] { return stopRequested.load(); });
    }
    flush();
}
