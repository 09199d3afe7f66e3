#pragma once

#include <atomic>
#include <mutex>
#include <utility>

// A process-wide instance of T, created on first use (by getInstance, or by createInstance
// with the constructor's arguments) and destroyed explicitly.
// getInstance reads the pointer without locking once it is set; creation and
// destroyInstance are serialised by one mutex per class. destroyInstance must not run
// while other threads still use the instance.
template <typename T> class CSingleton
{
public:
    virtual ~CSingleton() = default;

    static T* getInstance() { return createInstance(); }

    // Like getInstance, but a new instance is made from the given arguments; an instance
    // that exists already is returned as it is.
    template <typename... Arguments> static T* createInstance(Arguments&&... arguments)
    {
        T* existing = instance.load(std::memory_order_acquire);
        if (existing != nullptr)
            return existing;
        std::lock_guard<std::mutex> lock(mutex);
        existing = instance.load(std::memory_order_relaxed);
        if (existing == nullptr)
        {
            existing = new T(std::forward<Arguments>(arguments)...);
            instance.store(existing, std::memory_order_release);
        }
        return existing;
    }

    static void destroyInstance()
    {
        if (instance.load(std::memory_order_acquire) == nullptr)
            return;
        std::lock_guard<std::mutex> lock(mutex);
        T* existing = instance.exchange(nullptr, std::memory_order_acq_rel);
        delete existing;
    }

private:
    static inline std::atomic<T*> instance{nullptr};
    static inline std::mutex mutex;
};
