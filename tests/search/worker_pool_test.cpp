#include "search/worker_pool.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace weftloom {
namespace {

struct Counts {
    std::vector<std::atomic<int>> calls;
    explicit Counts(std::size_t n) : calls(n) {}
};

TEST(WorkerPool, RunsEveryChunkOnceWhateverTheHelpers) {
    WorkerPool pool(3);
    for (std::uint32_t helpers : {0u, 1u, 2u, 3u, 10u}) {
        for (std::uint32_t chunks : {0u, 1u, 2u, 7u, 64u}) {
            Counts counts(chunks);
            pool.Run(chunks, helpers, [&](std::uint32_t c) { counts.calls[c].fetch_add(1); });
            for (std::uint32_t c = 0; c < chunks; ++c) {
                EXPECT_EQ(counts.calls[c].load(), 1) << helpers << " helpers, chunk " << c;
            }
        }
    }
}

TEST(WorkerPool, SeveralCallersShareTheWorkers) {
    // Four runs at once over two workers: each caller finishes its own job
    // whether or not a worker joins it.
    WorkerPool pool(2);
    std::vector<std::thread> callers;
    std::atomic<int> total{0};
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            for (int round = 0; round < 200; ++round) {
                Counts counts(5);
                pool.Run(5, 2, [&](std::uint32_t c) { counts.calls[c].fetch_add(1); });
                for (auto& c : counts.calls) {
                    total += c.load();
                }
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(total.load(), 4 * 200 * 5);
}

// A worker that has gone to sleep between runs is woken for the next one:
// both chunks run at once, on two threads, each waiting for the other to
// start (a lost wake-up leaves the caller alone, and the first chunk waits
// out its time).
TEST(WorkerPool, AWorkerAsleepJoinsTheNextRun) {
    WorkerPool pool(1);
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::atomic<int> started{0};
        std::thread::id ids[2];
        bool metOther[2] = {false, false};
        pool.Run(2, 1, [&](std::uint32_t c) {
            ids[c] = std::this_thread::get_id();
            started.fetch_add(1);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (started.load() < 2 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            metOther[c] = started.load() == 2;
        });
        EXPECT_NE(ids[0], ids[1]) << "round " << round;
        EXPECT_TRUE(metOther[0] && metOther[1]) << "round " << round;
    }
}

// A stop signal meant for the process never lands on a worker; a fault
// still would, and the thread that made the pool keeps its own mask.
TEST(WorkerPool, WorkersTakeNoStopSignal) {
    struct Seen {
        std::mutex mutex;
        std::vector<std::pair<std::thread::id, bool>> threads;  // SIGTERM blocked?
        bool faultBlocked = false;
    } seen;
    WorkerPool pool(2);
    pool.Run(64, 2, [&s = seen](std::uint32_t) {
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        {
            std::lock_guard lock(s.mutex);
            s.threads.emplace_back(std::this_thread::get_id(), sigismember(&mask, SIGTERM) == 1);
            s.faultBlocked = s.faultBlocked || sigismember(&mask, SIGSEGV) == 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    int workerChunks = 0;
    for (const auto& [id, termBlocked] : seen.threads) {
        const bool caller = id == std::this_thread::get_id();
        EXPECT_EQ(termBlocked, !caller);
        workerChunks += caller ? 0 : 1;
    }
    EXPECT_GT(workerChunks, 0) << "no worker joined";
    EXPECT_FALSE(seen.faultBlocked);
}

// 0 means every core, and a count past the cores is held to them.
TEST(WorkerPool, ThreadCountZeroMeansEveryCore) {
    EXPECT_EQ(WorkerPool::EffectiveThreads(0), WorkerPool::EffectiveThreads(1000));
    EXPECT_EQ(WorkerPool::EffectiveThreads(1), 1u);
}

}  // namespace
}  // namespace weftloom
