#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
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
// chunks like any worker, so it never waits for a chunk nobody has started: a
// worker that comes too late finds its job taken back. Idle workers spin for
// a short while before they sleep, so that the next query of the same run
// finds them awake. Any thread may call Run; a worker serves one caller at a
// time, and a caller that finds none idle does its chunks alone. Chunks run
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
    // any callable taking a std::uint32_t; it is called concurrently. True
    // when the caller, its own chunks done, had to wait for a worker's.
    template <class Task>
    bool Run(std::uint32_t chunkCount, std::uint32_t helpers, Task&& task) {
        using Callable = std::remove_reference_t<Task>;
        return RunChunks(
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
        std::atomic<std::uint32_t> next{0};
    };
    // A worker's mailbox, on a cache line of its own: the caller that claims
    // an idle worker leaves its job here, and the worker says here when it is
    // done, so that handing a chunk over touches one line and no lock.
    struct alignas(64) Slot {
        std::atomic<std::uint32_t> state{0};  // a SlotState
        std::atomic<bool> asleep{false};      // waiting on state, to be woken
        Job* job = nullptr;
    };

    bool RunChunks(std::uint32_t chunkCount, std::uint32_t helpers, Erased task, void* context);
    static void Work(Job& job);
    void WorkerLoop(Slot& slot);

    std::unique_ptr<Slot[]> slots_;
    std::atomic<std::uint32_t> nextSlot_{0};  // where a caller starts looking for idle workers
    std::vector<std::thread> workers_;
};

}  // namespace weftloom
