#pragma once

#include <set>

namespace Veltora
{

// Receives events of one type. A listener must unsubscribe before it is destroyed.
template <typename Event> class IEventListener
{
public:
    virtual ~IEventListener() = default;
    virtual void onEvent(const Event& event) = 0;
};

// Delivers events of one type synchronously to its subscribed listeners, in ascending
// order of listener address. Single-threaded: a listener must not subscribe or
// unsubscribe listeners of the same source while it fires.
template <typename Event> class EventSource
{
public:
    virtual ~EventSource() = default;

    void subscribe(IEventListener<Event>* listener) { listeners.insert(listener); }
    void unsubscribe(IEventListener<Event>* listener) { listeners.erase(listener); }

    void fire(const Event& event)
    {
        for (IEventListener<Event>* listener : listeners)
            if (listener != nullptr)
                listener->onEvent(event);
    }

private:
    std::set<IEventListener<Event>*> listeners;
};

} // namespace Veltora
