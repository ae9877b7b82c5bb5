#pragma once
// Runs numbered jobs on several threads and hands their outcomes over in number order
// on the calling thread, so what a run prints and writes does not depend on how many
// threads it used.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vellumcast::cli {

// Calls work(i) for every i below count, on up to `threads` threads, and take(i, outcome)
// in the order of i on the calling thread. A job starts only while fewer than `threads`
// outcomes are being made or waiting to be taken, so at most that many are held at once.
// With one thread everything runs on the calling thread. A job that throws ends the run:
// the failure is rethrown from here when its turn comes. turn(i) is called on the calling
// thread once every outcome before i was taken, while job i may be running; nothing else
// runs on the calling thread then until take(i), so job i may do what take does meanwhile.
template <typename Work, typename Take, typename Turn>
void RunInOrder(size_t count, unsigned threads, Work work, Take take, Turn turn)
{
    if (threads <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i) {
            turn(i);
            take(i, work(i));
        }
        return;
    }
    using Outcome = decltype(work(size_t {}));
    struct Finished {
        Outcome outcome {};
        std::exception_ptr failure;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::map<size_t, Finished> finished;
    size_t nextStart = 0;
    size_t nextTake = 0;
    bool stopping = false;

    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopping || nextStart >= count || nextStart < nextTake + threads; });
            if (stopping || nextStart >= count)
                return;
            const size_t index = nextStart++;
            lock.unlock();
            Finished done;
            try {
                done.outcome = work(index);
            } catch (...) {
                done.failure = std::current_exception();
            }
            lock.lock();
            finished.emplace(index, std::move(done));
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    const size_t poolSize = std::min<size_t>(threads, count);
    for (size_t i = 0; i < poolSize; ++i)
        pool.emplace_back(worker);

    std::exception_ptr failure;
    while (nextTake < count && !failure) {
        turn(nextTake);
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return finished.count(nextTake) != 0; });
        Finished done = std::move(finished.at(nextTake));
        finished.erase(nextTake);
        lock.unlock();
        if (done.failure) {
            failure = done.failure;
        } else {
            try {
                take(nextTake, std::move(done.outcome));
            } catch (...) {
                failure = std::current_exception();
            }
        }
        lock.lock();
        ++nextTake;
        stopping = failure != nullptr;
        changed.notify_all();
    }
    for (auto& thread : pool)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

template <typename Work, typename Take> void RunInOrder(size_t count, unsigned threads, Work work, Take take)
{
    RunInOrder(count, threads, std::move(work), std::move(take), [](size_t) {});
}

} // namespace vellumcast::cli
