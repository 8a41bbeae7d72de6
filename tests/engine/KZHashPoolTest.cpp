// The hashing pool runs each piece of a batch exactly once and never after
// its batch has closed, however its threads are scheduled.

#include "engine/KZHashPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

TEST(KZHashPoolTest, ManySmallBatchesRunEveryPieceOnceAndOnlyInsideItsBatch)
{
    // Batches of a few pieces close before most woken threads get the lock,
    // so those threads meet a closed batch or one that has just opened: the
    // case where a piece number of one batch was judged against the count of
    // the next, running pieces twice or out of their batch. Three threads
    // meet that moment most often for the time spent; many threads on few
    // processors cost the most per batch.
    const std::pair<unsigned, int> runs[]{{2, 1000}, {3, 3000}, {8, 600}, {32, 300}};
    for (const auto& [threads, batches] : runs) {
        SCOPED_TRACE(threads);
        KZHashPool pool(threads);
        ASSERT_EQ(pool.threads(), threads);
        std::atomic<bool> open{false};
        std::atomic<int> outside{0};
        for (int batch = 0; batch < batches; ++batch) {
            const std::size_t count = 4 + std::size_t(batch % 13) * (batch % 7 == 0 ? 9 : 1);
            // Freed with the batch: a late piece would touch freed memory.
            auto pieceRuns = std::make_unique<std::atomic<int>[]>(count);
            open = true;
            pool.forEach(count, [&, counts = pieceRuns.get()](std::size_t piece) {
                if (!open.load())
                    outside.fetch_add(1);
                counts[piece].fetch_add(1);
                if (piece % 5 == 0)
                    std::this_thread::yield();
            });
            open = false;
            for (std::size_t piece = 0; piece < count; ++piece)
                ASSERT_EQ(pieceRuns[piece].load(), 1) << "batch " << batch << " piece " << piece;
        }
        EXPECT_EQ(outside.load(), 0);
    }
}

TEST(KZHashPoolTest, OneThreadAndTinyBatchesRunOnTheCaller)
{
    const std::thread::id caller = std::this_thread::get_id();
    for (const unsigned threads : {1u, 8u}) {
        KZHashPool pool(threads);
        const std::size_t count = threads == 1 ? 50 : 3;
        std::vector<int> runs(count, 0);
        bool elsewhere = false;
        pool.forEach(count, [&](std::size_t piece) {
            ++runs[piece];
            elsewhere = elsewhere || std::this_thread::get_id() != caller;
        });
        EXPECT_EQ(runs, std::vector<int>(count, 1)) << threads;
        EXPECT_FALSE(elsewhere) << threads;
    }
    KZHashPool pool(4);
    pool.forEach(0, [](std::size_t) { ADD_FAILURE() << "no piece in an empty batch"; });
}

TEST(KZHashPoolTest, StartedBatchRunsBesideTheCallerAndEndsWithFinish)
{
    // The driver files one batch while the pool hashes the next: between
    // start and finish the caller works on its own, and finish returns
    // only when every piece ran once, whether the pool's threads took them
    // all, some, or none (one thread, a few pieces).
    for (const unsigned threads : {1u, 2u, 8u}) {
        SCOPED_TRACE(threads);
        KZHashPool pool(threads);
        for (int batch = 0; batch < 400; ++batch) {
            const std::size_t count = std::size_t(batch % 9) * (batch % 3 == 0 ? 40 : 1);
            auto pieceRuns = std::make_unique<std::atomic<int>[]>(count + 1);
            const std::function<void(std::size_t)> work = [counts = pieceRuns.get()](std::size_t piece) {
                counts[piece].fetch_add(1);
            };
            pool.start(count, work);
            if (batch % 4 == 0)
                std::this_thread::yield(); // the caller's own work
            pool.finish();
            for (std::size_t piece = 0; piece < count; ++piece)
                ASSERT_EQ(pieceRuns[piece].load(), 1) << "batch " << batch << " piece " << piece;
            ASSERT_EQ(pieceRuns[count].load(), 0);
        }
        pool.finish(); // nothing open: returns at once
    }
}

} // namespace
