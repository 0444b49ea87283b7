#include "search/worker_pool.h"

#include <algorithm>
#include <chrono>

#ifdef __unix__
#include <pthread.h>

#include <csignal>
#endif

namespace weftloom {

namespace {

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// How long an idle worker keeps spinning before it sleeps: longer than the gap
// between two queries of a run, far shorter than anything a person notices.
constexpr auto kSpinTime = std::chrono::microseconds(200);
constexpr std::uint32_t kSpinsBeforeYield = 2000;

// Blocks, in this thread and while it lives, the signals meant for the
// process (a stop, a resize), and not the faults, which reach the thread that
// caused them. Workers are started under it: such a signal then goes to a
// thread of the program, whose handler sees it at once, not to a worker
// asleep in its wait (a sanitizer's deferred handler holds it there until
// the worker wakes).
class ProcessSignalsBlocked {
  public:
#ifdef __unix__
    ProcessSignalsBlocked() {
        sigset_t blocked;
        sigfillset(&blocked);
        for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
            sigdelset(&blocked, fault);
        }
        pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
    }
    ~ProcessSignalsBlocked() {
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    ProcessSignalsBlocked(const ProcessSignalsBlocked&) = delete;
    ProcessSignalsBlocked& operator=(const ProcessSignalsBlocked&) = delete;

  private:
    sigset_t previous_{};
#endif
};

// Asked once: the C library reads it from /sys on every call.
std::uint32_t CoreCount() {
    static const std::uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

}  // namespace

WorkerPool& WorkerPool::Shared() {
    static WorkerPool pool(CoreCount() - 1);
    return pool;
}

std::uint32_t WorkerPool::EffectiveThreads(std::uint32_t threadCount) {
    const std::uint32_t cores = CoreCount();
    return threadCount == 0 ? cores : std::min(threadCount, cores);
}

WorkerPool::WorkerPool(std::uint32_t workerCount) {
    // Threads start with their creator's signal mask.
    const ProcessSignalsBlocked blocked;
    workers_.reserve(workerCount);
    for (std::uint32_t i = 0; i < workerCount; ++i) {
        workers_.emplace_back([this] { WorkerLoop(); });
    }
}

WorkerPool::~WorkerPool() {
    stopping_.store(true);
    epoch_.fetch_add(1);
    epoch_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void WorkerPool::Work(Job& job) {
    for (;;) {
        const std::uint32_t chunk = job.next.fetch_add(1, std::memory_order_relaxed);
        if (chunk >= job.chunkCount) {
            return;
        }
        job.task(job.context, chunk);
    }
}

WorkerPool::Job* WorkerPool::Join() {
    std::lock_guard lock(mutex_);
    for (Job* job : jobs_) {
        if (job->joined < job->helpers &&
            job->next.load(std::memory_order_relaxed) < job->chunkCount) {
            ++job->joined;
            job->active.fetch_add(1, std::memory_order_relaxed);
            return job;
        }
    }
    return nullptr;
}

void WorkerPool::WorkerLoop() {
    while (!stopping_.load()) {
        const std::uint32_t seen = epoch_.load(std::memory_order_acquire);
        if (Job* job = Join()) {
            Work(*job);
            job->active.fetch_sub(1, std::memory_order_release);
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        bool changed = false;
        for (std::uint32_t spin = 1; !changed; ++spin) {
            Pause();
            changed = epoch_.load(std::memory_order_acquire) != seen;
            if (spin % 64 == 0 && std::chrono::steady_clock::now() - start > kSpinTime) {
                break;
            }
        }
        if (!changed) {
            sleepers_.fetch_add(1);
            epoch_.wait(seen);
            sleepers_.fetch_sub(1);
        }
    }
}

void WorkerPool::RunChunks(std::uint32_t chunkCount, std::uint32_t helpers, Erased task,
                           void* context) {
    helpers = std::min({helpers, WorkerCount(), chunkCount > 0 ? chunkCount - 1 : 0u});
    if (helpers == 0) {
        for (std::uint32_t c = 0; c < chunkCount; ++c) {
            task(context, c);
        }
        return;
    }
    Job job;
    job.task = task;
    job.context = context;
    job.chunkCount = chunkCount;
    job.helpers = helpers;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(&job);
    }
    // Sequentially consistent, as the sleeper's count and its wait: either it
    // sees the new epoch or this sees it asleep.
    epoch_.fetch_add(1);
    if (sleepers_.load() != 0) {
        epoch_.notify_all();
    }
    Work(job);
    {
        std::lock_guard lock(mutex_);
        jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
    }
    // No worker joins any more; wait for those inside to finish their chunk.
    // A chunk takes microseconds, unless its worker lost its core: then give
    // the core away rather than spin through the time slice.
    for (std::uint32_t spin = 0; job.active.load(std::memory_order_acquire) != 0; ++spin) {
        WaitBriefly(spin);
    }
}

void WorkerPool::WaitBriefly(std::uint32_t idle) {
    if (idle < kSpinsBeforeYield) {
        Pause();
    } else {
        std::this_thread::yield();
    }
}

}  // namespace weftloom
