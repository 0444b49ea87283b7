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

// What a worker's slot holds: nobody's job (idle); a caller filling it in
// (claimed); a job to join (posted); the job joined (running) and left
// (done), until its caller takes the slot back; the pool closing (stop).
enum SlotState : std::uint32_t { kIdle, kClaimed, kPosted, kRunning, kDone, kStop };

// Helpers one run takes at most.
constexpr std::uint32_t kMostHelpers = 64;

WorkerPool& WorkerPool::Shared() {
    static WorkerPool pool(CoreCount() - 1);
    return pool;
}

std::uint32_t WorkerPool::EffectiveThreads(std::uint32_t threadCount) {
    const std::uint32_t cores = CoreCount();
    return threadCount == 0 ? cores : std::min(threadCount, cores);
}

WorkerPool::WorkerPool(std::uint32_t workerCount) : slots_(new Slot[workerCount]) {
    // Threads start with their creator's signal mask.
    const ProcessSignalsBlocked blocked;
    workers_.reserve(workerCount);
    for (std::uint32_t i = 0; i < workerCount; ++i) {
        workers_.emplace_back([this, i] { WorkerLoop(slots_[i]); });
    }
}

WorkerPool::~WorkerPool() {
    // No run is under way: every slot is idle.
    for (std::uint32_t i = 0; i < WorkerCount(); ++i) {
        slots_[i].state.store(kStop);
        slots_[i].state.notify_one();
    }
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

void WorkerPool::WorkerLoop(Slot& slot) {
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        std::uint32_t state = slot.state.load(std::memory_order_acquire);
        for (std::uint32_t spin = 1; state != kPosted && state != kStop; ++spin) {
            Pause();
            state = slot.state.load(std::memory_order_acquire);
            if (spin % 64 == 0 && std::chrono::steady_clock::now() - start > kSpinTime) {
                // Sequentially consistent, as the caller's post and its look
                // at asleep: either it sees this asleep or this sees its post.
                slot.asleep.store(true);
                state = slot.state.load();
                if (state != kPosted && state != kStop) {
                    slot.state.wait(state);
                }
                slot.asleep.store(false, std::memory_order_relaxed);
                state = slot.state.load(std::memory_order_acquire);
            }
        }
        if (state == kStop) {
            return;
        }
        // The caller may have taken the job back meanwhile.
        if (slot.state.compare_exchange_strong(state, kRunning, std::memory_order_acquire)) {
            Work(*slot.job);
            slot.state.store(kDone, std::memory_order_release);
        }
    }
}

bool WorkerPool::RunChunks(std::uint32_t chunkCount, std::uint32_t helpers, Erased task,
                           void* context) {
    helpers =
        std::min({helpers, WorkerCount(), kMostHelpers, chunkCount > 0 ? chunkCount - 1 : 0u});
    Job job;
    job.task = task;
    job.context = context;
    job.chunkCount = chunkCount;
    // Idle workers, looked for from a place that moves on with every run so
    // that callers at once spread over them.
    Slot* posted[kMostHelpers];
    std::uint32_t postedCount = 0;
    const std::uint32_t workers = WorkerCount();
    const std::uint32_t first =
        helpers == 0 ? 0 : nextSlot_.fetch_add(1, std::memory_order_relaxed);
    for (std::uint32_t k = 0; k < workers && postedCount < helpers; ++k) {
        Slot& slot = slots_[(first + k) % workers];
        std::uint32_t idle = kIdle;
        if (slot.state.load(std::memory_order_relaxed) != kIdle ||
            !slot.state.compare_exchange_strong(idle, kClaimed, std::memory_order_acquire)) {
            continue;
        }
        slot.job = &job;
        slot.state.store(kPosted);
        if (slot.asleep.load()) {
            slot.state.notify_one();
        }
        posted[postedCount++] = &slot;
    }
    Work(job);
    // Every chunk is taken: a worker that has not joined yet is not waited
    // for; one that has is, for the chunk it is in. A chunk takes
    // microseconds, unless its worker lost its core: then give the core away
    // rather than spin through the time slice.
    bool waited = false;
    for (std::uint32_t k = 0; k < postedCount; ++k) {
        Slot& slot = *posted[k];
        std::uint32_t state = kPosted;
        if (!slot.state.compare_exchange_strong(state, kIdle, std::memory_order_relaxed)) {
            for (std::uint32_t spin = 0; slot.state.load(std::memory_order_acquire) != kDone;
                 ++spin) {
                WaitBriefly(spin);
                waited = true;
            }
            slot.state.store(kIdle, std::memory_order_relaxed);
        }
    }
    return waited;
}

void WorkerPool::WaitBriefly(std::uint32_t idle) {
    if (idle < kSpinsBeforeYield) {
        Pause();
    } else {
        std::this_thread::yield();
    }
}

}  // namespace weftloom
