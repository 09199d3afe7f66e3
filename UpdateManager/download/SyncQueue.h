#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace Veltora::UpdateManager
{

// An unbounded first-in first-out queue shared between threads. Every push wakes a
// thread blocked in waitAndPop.
template <typename T> class SyncQueue
{
public:
    void push(const T& item)
    {
        std::lock_guard<std::mutex> lock(mutex);
        items.push_back(item);
        condition.notify_one();
    }

    // Blocks while the queue is empty, then moves the oldest item out.
    void waitAndPop(T& item)
    {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [this] { return !items.empty(); });
        item = items.front();
        items.pop_front();
    }

    // Moves the oldest item out; false when there is none.
    bool tryPop(T& item)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (items.empty())
            return false;
        item = items.front();
        items.pop_front();
        return true;
    }

    bool empty() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return items.empty();
    }

private:
    std::deque<T> items;
    mutable std::mutex mutex;
    std::condition_variable condition;
};

} // namespace Veltora::UpdateManager
