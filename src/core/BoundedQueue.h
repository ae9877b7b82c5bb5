#pragma once
// A queue of at most a fixed number of items between one producing and one consuming
// thread. The producer blocks while it is full, the consumer while it is empty. Either
// side may end the hand-off: the producer closes it (the consumer still drains what is
// queued, then sees the producer's error, if any), the consumer cancels it (both sides
// return at once). Items the consumer is done with may go back as spares, so buffers
// are reused rather than allocated per item.
//
// Wake-ups are few: the consumer is woken only when the queue turns non-empty, the
// producer only once half the room is free again, since on a virtual machine every
// wake-up costs.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace vellumcast::core {

template <typename T> class BoundedQueue {
public:
    // capacity: how many items may wait at once; at least 1.
    explicit BoundedQueue(size_t capacity)
        : m_capacity(capacity < 1 ? 1 : capacity)
    {
    }

    // Adds an item, waiting for room. false (the item is dropped) once the consumer
    // cancelled.
    bool Push(T item)
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [&] { return m_cancelled || m_items.size() < m_capacity; });
        if (m_cancelled)
            return false;
        m_items.push_back(std::move(item));
        if (m_items.size() == 1)
            m_ready.notify_one();
        return true;
    }

    // The next item, waiting for one. nullopt once the queue is closed and drained, or
    // cancelled; a closed queue's error is thrown after the last item instead.
    std::optional<T> Pop()
    {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [&] { return m_cancelled || m_closed || !m_items.empty(); });
        if (m_cancelled)
            return std::nullopt;
        if (m_items.empty()) {
            if (m_error)
                std::rethrow_exception(std::exchange(m_error, nullptr));
            return std::nullopt;
        }
        T item = std::move(m_items.front());
        m_items.pop_front();
        if (m_items.size() == (m_capacity - 1) / 2)
            m_room.notify_one();
        return item;
    }

    // The producer is done; error (when set) reaches the consumer after the last item.
    void Close(std::exception_ptr error = nullptr)
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
        m_error = std::move(error);
        m_ready.notify_all();
    }

    // The consumer stops: waiting calls return, later ones do nothing. Queued items are
    // dropped.
    void Cancel()
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_items.clear();
        m_room.notify_all();
        m_ready.notify_all();
    }

    bool Cancelled() const
    {
        const std::lock_guard lock(m_mutex);
        return m_cancelled;
    }

    // An item the consumer is done with, for the producer to reuse.
    void Recycle(T item)
    {
        const std::lock_guard lock(m_mutex);
        m_spares.push_back(std::move(item));
    }

    // A recycled item, or a new one when there is none.
    T TakeSpare()
    {
        const std::lock_guard lock(m_mutex);
        if (m_spares.empty())
            return T {};
        T item = std::move(m_spares.back());
        m_spares.pop_back();
        return item;
    }

private:
    const size_t m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready; // an item was added, or the queue was closed or cancelled
    std::condition_variable m_room; // room was made, or the queue was cancelled
    std::deque<T> m_items;
    std::vector<T> m_spares;
    std::exception_ptr m_error;
    bool m_closed = false;
    bool m_cancelled = false;
};

} // namespace vellumcast::core
