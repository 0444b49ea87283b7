#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace weftloom {

// A small set of persistent worker threads shared by the whole process, for
// splitting one nearest-neighbour query (a few microseconds of work) across
// cores. There are as many workers as cores minus one: every caller works on
// its own job too, so several runs at once (the desktop application runs one
// per document) share the same workers instead of each starting its own.
//
// Run hands out the chunks of a job by an atomic counter; the caller claims
// chunks like any worker, so it never waits for a chunk nobody has started.
// Idle workers spin for a short while before they sleep, so that the next
// query of the same run finds them awake. Any thread may call Run; chunks run
// concurrently and must not depend on each other.
class WorkerPool {
  public:
    // The process's pool, started on first use.
    static WorkerPool& Shared();

    explicit WorkerPool(std::uint32_t workerCount);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();

    std::uint32_t WorkerCount() const { return static_cast<std::uint32_t>(workers_.size()); }

    // Calls task(c) for every c in [0, chunkCount), on the calling thread and
    // at most `helpers` workers, and returns when all calls are done. task is
    // any callable taking a std::uint32_t; it is called concurrently.
    template <class Task>
    void Run(std::uint32_t chunkCount, std::uint32_t helpers, Task&& task) {
        using Callable = std::remove_reference_t<Task>;
        RunChunks(
            chunkCount, helpers,
            [](void* callable, std::uint32_t chunk) { (*static_cast<Callable*>(callable))(chunk); },
            const_cast<void*>(static_cast<const void*>(std::addressof(task))));
    }

    // The number of threads (the caller included) a run asking for
    // threadCount (0: all cores) really gets.
    static std::uint32_t EffectiveThreads(std::uint32_t threadCount);

    // One turn of a thread waiting for others that take microseconds (its
    // idle-th turn in a row): a pause at first, then, as the others may have
    // lost their cores, the core given away instead of spun through.
    static void WaitBriefly(std::uint32_t idle);

  private:
    using Erased = void (*)(void* callable, std::uint32_t chunk);
    struct Job {
        Erased task;
        void* context;
        std::uint32_t chunkCount;
        std::uint32_t helpers;
        std::atomic<std::uint32_t> next{0};
        std::uint32_t joined = 0;  // under mutex_
        std::atomic<std::uint32_t> active{0};
    };

    void RunChunks(std::uint32_t chunkCount, std::uint32_t helpers, Erased task, void* context);
    static void Work(Job& job);
    void WorkerLoop();
    Job* Join();

    std::mutex mutex_;
    std::vector<Job*> jobs_;  // under mutex_
    std::atomic<std::uint32_t> epoch_{0};
    std::atomic<std::uint32_t> sleepers_{0};
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> workers_;
};

}  // namespace weftloom
