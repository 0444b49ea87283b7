#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "engine/coherent/pass_plan.h"
#include "search/worker_pool.h"

namespace weftloom::coherent {

// Runs a wavefront plan step after step: the chunks of one step at once, on
// the calling thread and up to threads - 1 of the shared pool, then one
// commit on the calling thread before any chunk of the next step starts.
//
// runChunk(chunk, participant) runs the plan's chunk number `chunk`;
// participant, below threads, names the thread's own working room (no two
// chunks run at once with the same one). commit(step) brings the shared
// state up to date with the step's chunks and returns false to end the run
// there. A commit sees all that the chunks of its step wrote, and the chunks
// of the next step all that it wrote. True when every step was committed.
template <class RunChunk, class Commit>
bool RunSteps(const PassPlan& plan, std::uint32_t threads, RunChunk&& runChunk, Commit&& commit) {
    const std::uint32_t stepCount = plan.StepCount();
    if (stepCount == 0) {
        return true;
    }
    constexpr std::uint32_t kOver = 0xFFFFFFFFu;
    // The step running (high half; kOver: the run is over) and its chunks
    // handed out (low half).
    std::atomic<std::uint64_t> claim{0};
    std::atomic<std::uint32_t> done{0};  // chunks of the step finished
    bool committedAll = true;            // the committing thread's alone
    auto participate = [&](std::uint32_t participant, bool commits) {
        std::uint32_t idle = 0;
        for (;;) {
            std::uint64_t current = claim.load(std::memory_order_acquire);
            const auto step = static_cast<std::uint32_t>(current >> 32);
            if (step == kOver) {
                return;
            }
            const std::uint32_t chunks = plan.stepStart[step + 1] - plan.stepStart[step];
            const auto next = static_cast<std::uint32_t>(current);
            if (next < chunks) {
                if (claim.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                                std::memory_order_relaxed)) {
                    runChunk(plan.byStep[plan.stepStart[step] + next], participant);
                    done.fetch_add(1, std::memory_order_release);
                }
                idle = 0;
                continue;
            }
            if (commits && done.load(std::memory_order_acquire) == chunks) {
                const bool committed = commit(step);
                committedAll = committedAll && committed;
                const bool more = committed && step + 1 < stepCount;
                done.store(0, std::memory_order_relaxed);
                claim.store(std::uint64_t{more ? step + 1 : kOver} << 32,
                            std::memory_order_release);
                idle = 0;
                continue;
            }
            WorkerPool::WaitBriefly(idle++);
        }
    };
    if (threads <= 1) {
        participate(0, true);
    } else {
        const std::thread::id committer = std::this_thread::get_id();
        WorkerPool::Shared().Run(threads, threads - 1, [&](std::uint32_t participant) {
            participate(participant, std::this_thread::get_id() == committer);
        });
    }
    return committedAll;
}

}  // namespace weftloom::coherent
