// The evaluation pool: every index once, the caller taking part, exceptions carried
// back to the caller, nested and concurrent loops run on their own; never more than
// the maximum number of threads, and a pool that cannot start its threads runs with
// those it has.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "threads/EvaluationPool.h"

namespace {

struct LoopCase {
    int threads;
    int count;
    int expectedThreadCount;
};

const LoopCase kLoops[] = {
    {1, 0, 1}, {1, 1, 1}, {1, 17, 1}, {0, 5, 1}, {-3, 5, 1},  {2, 0, 2},
    {2, 1, 2}, {2, 2, 2}, {2, 33, 2}, {3, 2, 3}, {3, 100, 3}, {4, 1000, 4},
};

TEST(EvaluationPoolThread, EveryIndexRunsExactlyOnceOnAThreadOfThePool) {
    for (const LoopCase& c : kLoops) {
        SCOPED_TRACE(::testing::Message() << c.threads << " threads, " << c.count << " indices");
        CVRNEvaluationPool pool(c.threads);
        ASSERT_EQ(pool.GetThreadCount(), c.expectedThreadCount);
        // The same pool runs several loops one after the other.
        for (int round = 0; round < 3; ++round) {
            std::vector<std::atomic<int>> hits(static_cast<size_t>(c.count));
            std::atomic<bool> badThread{false};
            auto body = [&](int i, int thread) {
                hits[static_cast<size_t>(i)].fetch_add(1);
                if (thread < 0 || thread >= pool.GetThreadCount())
                    badThread = true;
            };
            pool.ParallelFor(c.count, body);
            for (int i = 0; i < c.count; ++i)
                EXPECT_EQ(hits[static_cast<size_t>(i)].load(), 1) << "index " << i;
            EXPECT_FALSE(badThread.load());
        }
    }
}

TEST(EvaluationPoolThread, TwoIndicesRunAtTheSameTimeOnTwoThreads) {
    // Each call waits until the other has begun: this loop ends only when both
    // indices run at once, one on the caller and one on the worker.
    CVRNEvaluationPool pool(2);
    std::atomic<int> arrived{0};
    std::thread::id seen[2];
    auto body = [&](int i, int) {
        seen[i] = std::this_thread::get_id();
        arrived.fetch_add(1);
        while (arrived.load() < 2)
            std::this_thread::yield();
    };
    pool.ParallelFor(2, body);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_TRUE(seen[0] == std::this_thread::get_id() || seen[1] == std::this_thread::get_id());
}

TEST(EvaluationPoolThread, AnExceptionReachesTheCallerAndThePoolGoesOn) {
    const int throwAt[] = {0, 1, 7, 63};
    for (int threads : {1, 2, 3}) {
        CVRNEvaluationPool pool(threads);
        for (int bad : throwAt) {
            SCOPED_TRACE(::testing::Message() << threads << " threads, throw at " << bad);
            std::atomic<int> calls{0};
            auto body = [&](int i, int) {
                calls.fetch_add(1);
                if (i == bad)
                    throw std::runtime_error("objective failed");
            };
            EXPECT_THROW(pool.ParallelFor(64, body), std::runtime_error);
            EXPECT_GE(calls.load(), 1);
            EXPECT_LE(calls.load(), 64);
            // The next loop runs in full.
            std::atomic<int> after{0};
            auto count = [&](int, int) { after.fetch_add(1); };
            pool.ParallelFor(64, count);
            EXPECT_EQ(after.load(), 64);
        }
    }
}

TEST(EvaluationPoolThread, ANestedLoopRunsOnTheCallingThread) {
    CVRNEvaluationPool pool(2);
    std::vector<std::atomic<int>> hits(8 * 8);
    std::atomic<bool> innerOnOtherThread{false};
    auto outer = [&](int i, int) {
        const std::thread::id me = std::this_thread::get_id();
        auto inner = [&, i, me](int j, int thread) {
            hits[static_cast<size_t>(i * 8 + j)].fetch_add(1);
            if (thread != 0 || std::this_thread::get_id() != me)
                innerOnOtherThread = true;
        };
        pool.ParallelFor(8, inner);
    };
    pool.ParallelFor(8, outer);
    for (auto& h : hits)
        EXPECT_EQ(h.load(), 1);
    EXPECT_FALSE(innerOnOtherThread.load());
}

TEST(EvaluationPoolThread, LoopsFromTwoCallersBothComplete) {
    CVRNEvaluationPool pool(2);
    std::atomic<long> sum{0};
    auto loop = [&] {
        for (int round = 0; round < 50; ++round) {
            auto body = [&](int i, int) { sum.fetch_add(i); };
            pool.ParallelFor(20, body);
        }
    };
    std::thread other(loop);
    loop();
    other.join();
    EXPECT_EQ(sum.load(), 2L * 50 * (19 * 20 / 2));
}

// Thread starters for the pool's seam: the first g_startsLeft starts succeed, the next
// one fails in the way g_failure says.
enum class Failure { Throw, OutOfMemory, NotJoinable };
std::atomic<int> g_startsLeft{0};
std::atomic<int> g_startCalls{0};
Failure g_failure = Failure::Throw;

std::thread FailingStarter(void (*work)(CVRNEvaluationPool*, int), CVRNEvaluationPool* pool, int thread) {
    g_startCalls.fetch_add(1);
    if (g_startsLeft.fetch_sub(1) > 0)
        return std::thread(work, pool, thread);
    switch (g_failure) {
    case Failure::Throw:
        throw std::system_error(EAGAIN, std::generic_category(), "thread creation refused");
    case Failure::OutOfMemory:
        throw std::bad_alloc();
    case Failure::NotJoinable:
        break;
    }
    return std::thread();
}

int ExpectedMaximum() {
    const unsigned hardware = std::thread::hardware_concurrency();
    const long four = 4L * (hardware > 0 ? hardware : 1);
    return static_cast<int>(four < 256 ? four : 256);
}

TEST(EvaluationPoolThread, TheMaximumIsFourPerHardwareThreadUpTo256) {
    EXPECT_EQ(VRNMaxEvaluationThreads(), ExpectedMaximum());
    EXPECT_GE(VRNMaxEvaluationThreads(), 4);
    EXPECT_LE(VRNMaxEvaluationThreads(), 256);
}

TEST(EvaluationPoolThread, APoolNeverStartsMoreThanTheMaximum) {
    const int most = VRNMaxEvaluationThreads();
    for (int asked : {most - 1, most, most + 1, 100000, INT_MAX}) {
        SCOPED_TRACE(::testing::Message() << asked << " threads asked for");
        g_startsLeft = INT_MAX;
        g_startCalls = 0;
        CVRNEvaluationPool pool(asked, &FailingStarter);
        const int expected = asked < most ? asked : most;
        EXPECT_EQ(pool.GetThreadCount(), expected);
        EXPECT_EQ(g_startCalls.load(), expected - 1);
        std::atomic<int> calls{0};
        auto body = [&](int, int) { calls.fetch_add(1); };
        pool.ParallelFor(3 * most, body);
        EXPECT_EQ(calls.load(), 3 * most);
    }
    CVRNEvaluationPool plain(INT_MAX);
    EXPECT_EQ(plain.GetThreadCount(), most);
}

struct StartCase {
    Failure failure;
    int starts; // successful starts before the failure
};

const StartCase kStarts[] = {
    {Failure::Throw, 0},       {Failure::Throw, 1},       {Failure::Throw, 2},
    {Failure::OutOfMemory, 0}, {Failure::OutOfMemory, 2}, {Failure::NotJoinable, 0},
    {Failure::NotJoinable, 1},
};

TEST(EvaluationPoolThread, AThreadThatCannotStartLeavesThePoolWithTheOthers) {
    for (const StartCase& c : kStarts) {
        SCOPED_TRACE(::testing::Message()
                     << "failure " << static_cast<int>(c.failure) << " after " << c.starts << " starts");
        g_failure = c.failure;
        g_startsLeft = c.starts;
        g_startCalls = 0;
        CVRNEvaluationPool pool(4, &FailingStarter);
        // No further attempt after the first failure.
        EXPECT_EQ(g_startCalls.load(), c.starts + 1);
        ASSERT_EQ(pool.GetThreadCount(), c.starts + 1);
        for (int round = 0; round < 3; ++round) {
            std::vector<std::atomic<int>> hits(50);
            std::atomic<bool> badThread{false};
            auto body = [&](int i, int thread) {
                hits[static_cast<size_t>(i)].fetch_add(1);
                if (thread < 0 || thread >= pool.GetThreadCount())
                    badThread = true;
            };
            pool.ParallelFor(50, body);
            for (auto& h : hits)
                EXPECT_EQ(h.load(), 1);
            EXPECT_FALSE(badThread.load());
        }
        auto failing = [](int i, int) {
            if (i == 3)
                throw std::runtime_error("objective failed");
        };
        EXPECT_THROW(pool.ParallelFor(10, failing), std::runtime_error);
        // Leaving the scope joins the workers that did start.
    }
}

} // namespace
