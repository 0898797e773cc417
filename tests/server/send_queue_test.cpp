// The outgoing queue of a room connection: bounded by its limits and the shared budget, one
// pong at most, and the close phases in order.
#include <gtest/gtest.h>

#include "websocket/send_queue.h"

namespace vellumora::server {
namespace {

using Push = SendQueue::Push;
using Phase = SendQueue::Phase;

Payload bytes(std::size_t n, char c = 'x') {
    return std::make_shared<const std::string>(n, c);
}

struct Queue {
    explicit Queue(SendQueue::Limits limits = {100, 1000, 500}, std::size_t budgetBytes = 1 << 20)
        : budget(budgetBytes, held), queue(limits, budget) {}
    Push push(std::size_t n) {
        const Payload p = bytes(n);
        return queue.push({&p, 1});
    }
    // Writes everything queued, as the connection's strand would.
    SendQueue::Settled writeAll() {
        SendQueue::Settled all;
        while (queue.take(batch, 64)) {
            const auto s = queue.settle(batch, true);
            all.messages += s.messages;
            all.closeWritten |= s.closeWritten;
        }
        return all;
    }
    std::atomic<std::int64_t> held{0};
    ByteBudget budget;
    SendQueue queue;
    std::vector<SendQueue::Frame> batch;
};

TEST(SendQueue, shouldStartOneWriteAtATimeKeepOnePongForTheLatestPingAndFragmentAMessageInParts) {
    Queue q;
    EXPECT_EQ(q.push(10), Push::startWrite);
    EXPECT_EQ(q.push(10), Push::queued);
    EXPECT_EQ(q.queue.pushPong(bytes(3, 'a')), Push::queued);
    EXPECT_EQ(q.queue.pushPong(bytes(4, 'b')), Push::queued);  // replaces the first
    ASSERT_TRUE(q.queue.take(q.batch, 64));
    ASSERT_EQ(q.batch.size(), 3u);
    EXPECT_EQ(q.batch[2].opcode, ws::Opcode::pong);
    EXPECT_EQ(*q.batch[2].bytes, "bbbb");
    EXPECT_EQ(q.queue.settle(q.batch, true).messages, 2u);
    EXPECT_FALSE(q.queue.take(q.batch, 64));     // idle again
    EXPECT_EQ(q.push(10), Push::startWrite);      // so the next push starts a write
    q.writeAll();
    EXPECT_EQ(q.held, 0);

    // A message in parts goes as one fragmented message.
    const Payload parts[] = {bytes(2), bytes(3), bytes(4)};
    EXPECT_EQ(q.queue.push(parts), Push::startWrite);
    ASSERT_TRUE(q.queue.take(q.batch, 64));
    ASSERT_EQ(q.batch.size(), 3u);
    EXPECT_EQ(q.batch[0].opcode, ws::Opcode::text);
    EXPECT_FALSE(q.batch[0].fin);
    EXPECT_EQ(q.batch[2].opcode, ws::Opcode::continuation);
    EXPECT_TRUE(q.batch[2].fin);
    EXPECT_EQ(q.queue.settle(q.batch, true).messages, 1u);
}

TEST(SendQueue, shouldOverflowPastItsLimitsDropWhatWasQueuedAndStillSendItsClose) {
    const struct {
        const char* what;
        SendQueue::Limits limits;
        std::size_t budget;
        int pushes;
        std::size_t size;
    } cases[] = {
        {"messages", {3, 1 << 20, 1 << 20}, 1 << 20, 4, 1},
        {"bytes", {100, 1000, 1 << 20}, 1 << 20, 3, 400},
        {"shared budget", {100, 1 << 20, 1 << 20}, 300 << 10, 3, 200 << 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Queue q(c.limits, c.budget);
        for (int i = 0; i + 1 < c.pushes; ++i) ASSERT_NE(q.push(c.size), Push::overflow);
        EXPECT_EQ(q.push(c.size), Push::overflow);
        EXPECT_EQ(q.held, 0);  // dropped, and given back
        EXPECT_EQ(q.queue.phase(), Phase::leaving);
        EXPECT_EQ(q.push(1), Push::refused);
        EXPECT_NE(q.queue.pushClose(bytes(2)), Push::refused);
    }
    // A queue holding next to nothing is not the one blamed when the budget is spent.
    Queue q({100, 1 << 20, 1 << 20}, 100);
    EXPECT_NE(q.push(1000), Push::overflow);
    // A message whose second part overflows leaves no write pending: the close starts one.
    Queue parts({100, 1 << 20, 1 << 20}, 400 << 10);
    const Payload message[] = {bytes(300 << 10), bytes(200 << 10)};
    EXPECT_EQ(parts.queue.push(message), Push::overflow);
    EXPECT_EQ(parts.queue.pushClose(bytes(2)), Push::startWrite);
}

TEST(SendQueue, shouldGoThroughTheClosePhasesInOrder) {
    Queue q;
    q.push(10);
    EXPECT_EQ(q.queue.leave(), Phase::open);
    EXPECT_EQ(q.push(10), Push::refused);
    EXPECT_EQ(q.queue.pushPong(bytes(1)), Push::queued);  // control frames still go
    EXPECT_EQ(q.queue.pushClose(bytes(2)), Push::queued);
    EXPECT_EQ(q.queue.phase(), Phase::closeQueued);
    EXPECT_EQ(q.queue.pushClose(bytes(2)), Push::refused);
    EXPECT_EQ(q.queue.pushPing(), Push::refused);
    EXPECT_TRUE(q.writeAll().closeWritten);
    EXPECT_EQ(q.queue.phase(), Phase::closeSent);
    EXPECT_EQ(q.queue.markClosed(), Phase::closeSent);
    EXPECT_EQ(q.queue.markClosed(), Phase::closed);
}

TEST(SendQueue, shouldPauseReadingWhileMuchIsQueuedAndGiveEverythingBackWhenGone) {
    Queue q({100, 10'000, 500});
    q.push(400);
    EXPECT_FALSE(q.queue.readingPaused());
    q.push(200);
    EXPECT_TRUE(q.queue.readingPaused());
    ASSERT_TRUE(q.queue.take(q.batch, 1));
    q.queue.settle(q.batch, false);  // a failed write drops the rest too
    EXPECT_FALSE(q.queue.readingPaused());
    EXPECT_EQ(q.held, 0);
}

}  // namespace
}  // namespace vellumora::server
