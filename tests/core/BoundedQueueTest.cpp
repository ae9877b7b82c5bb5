#include "core/BoundedQueue.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vellumcast::core {
namespace {

TEST(BoundedQueue, HandsOverEveryItemInOrderThroughASmallQueue)
{
    for (const size_t capacity : { 1u, 2u, 8u }) {
        BoundedQueue<int> queue(capacity);
        std::thread producer([&] {
            for (int i = 0; i < 10000; ++i)
                ASSERT_TRUE(queue.Push(i));
            queue.Close();
        });
        std::vector<int> received;
        while (auto item = queue.Pop())
            received.push_back(*item);
        producer.join();
        ASSERT_EQ(received.size(), 10000u) << "capacity " << capacity;
        for (int i = 0; i < 10000; ++i)
            ASSERT_EQ(received[static_cast<size_t>(i)], i) << "capacity " << capacity;
    }
}

TEST(BoundedQueue, TheProducersErrorArrivesAfterItsLastItem)
{
    BoundedQueue<std::string> queue(4);
    std::thread producer([&] {
        queue.Push("a");
        queue.Push("b");
        queue.Close(std::make_exception_ptr(std::runtime_error("damaged")));
    });
    EXPECT_EQ(queue.Pop(), "a");
    EXPECT_EQ(queue.Pop(), "b");
    EXPECT_THROW(queue.Pop(), std::runtime_error);
    producer.join();
}

TEST(BoundedQueue, CancellingReleasesAProducerWaitingForRoomAndDropsWhatWaits)
{
    BoundedQueue<int> queue(2);
    bool lastPushAccepted = true;
    std::thread producer([&] {
        queue.Push(1);
        queue.Push(2);
        lastPushAccepted = queue.Push(3); // waits: the queue is full
    });
    EXPECT_EQ(queue.Pop(), 1);
    // The producer may now add its third item; cancelling ends the hand-off either way.
    queue.Cancel();
    producer.join();
    EXPECT_TRUE(queue.Cancelled());
    EXPECT_EQ(queue.Pop(), std::nullopt);
    EXPECT_FALSE(queue.Push(4));

    BoundedQueue<int> full(1);
    full.Push(1);
    std::thread blocked([&] { lastPushAccepted = full.Push(2); });
    full.Cancel();
    blocked.join();
    EXPECT_FALSE(lastPushAccepted);
}

TEST(BoundedQueue, CancellingReleasesAConsumerWaitingForAnItem)
{
    BoundedQueue<int> queue(2);
    std::optional<int> got = 7;
    std::thread consumer([&] { got = queue.Pop(); });
    queue.Cancel();
    consumer.join();
    EXPECT_EQ(got, std::nullopt);
}

TEST(BoundedQueue, RecycledItemsAreHandedBackBeforeNewOnes)
{
    BoundedQueue<std::string> queue(2);
    std::string buffer;
    buffer.reserve(4096);
    const char* storage = buffer.data();
    queue.Recycle(std::move(buffer));
    const std::string spare = queue.TakeSpare();
    EXPECT_EQ(spare.data(), storage);
    EXPECT_EQ(queue.TakeSpare().capacity(), std::string().capacity());
}

} // namespace
} // namespace vellumcast::core
