#include "engine/coherent/step_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace weftloom::coherent {
namespace {

constexpr std::uint32_t kNotRun = ~0u;

// A fake pass that logs what ran when. Each chunk notes, in plain memory,
// how many commits it saw, as the last thing it does; each commit logs the
// chunks that ran since the one before. Under ThreadSanitizer a chunk and a
// commit that are not ordered show as a race. With more than one thread,
// the first chunk of a step with others waits (a while at most) until
// another has started, as the chunks of a step must run at once; the others
// finish a little later, so that a commit that does not wait for them shows.
struct FakePass {
    FakePass(const PassPlan& p, std::uint32_t t, std::uint32_t stop)
        : plan(p), threads(t), stopAfter(stop) {}

    const PassPlan& plan;
    std::uint32_t threads;
    std::uint32_t stopAfter;  // the commit that returns false
    std::vector<std::uint32_t> commitsSeen =
        std::vector<std::uint32_t>(plan.chunks.size(), kNotRun);
    std::uint32_t commits = 0;
    std::vector<std::vector<std::uint32_t>> log;
    std::vector<std::atomic<std::uint32_t>> started =
        std::vector<std::atomic<std::uint32_t>>(plan.StepCount());
    std::vector<std::atomic<bool>> busy = std::vector<std::atomic<bool>>(threads);
    std::atomic<bool> ranAlone{false};
    std::atomic<bool> sharedRoom{false};
    std::chrono::steady_clock::time_point deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(60);

    void RunChunk(std::uint32_t chunk, std::uint32_t participant) {
        if (participant >= threads || busy[participant].exchange(true)) {
            sharedRoom = true;
            return;
        }
        const std::uint32_t step = commits;
        if (threads > 1 && step < plan.StepCount() &&
            plan.stepStart[step + 1] - plan.stepStart[step] > 1) {
            if (started[step].fetch_add(1) == 0) {
                while (started[step].load() < 2 && !ranAlone) {
                    ranAlone = std::chrono::steady_clock::now() > deadline;
                    std::this_thread::yield();
                }
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(500));  // finishes later
            }
        }
        commitsSeen[chunk] = step;  // last: the commit must wait for it
        busy[participant] = false;
    }
    bool Commit(std::uint32_t step) {
        std::vector<std::uint32_t> ran;
        for (std::uint32_t c = 0; c < commitsSeen.size(); ++c) {
            if (commitsSeen[c] == step) {
                ran.push_back(c);
            }
        }
        log.push_back(ran);
        ++commits;
        return step != stopAfter;
    }
    bool Run() {
        return RunSteps(
            plan, threads, [this](std::uint32_t c, std::uint32_t p) { RunChunk(c, p); },
            [this](std::uint32_t s) { return Commit(s); });
    }
};

// The log a pass of plan's must leave: step after step, its chunks.
std::vector<std::vector<std::uint32_t>> StepsOf(const PassPlan& plan, std::uint32_t count) {
    std::vector<std::vector<std::uint32_t>> steps;
    for (std::uint32_t s = 0; s < count; ++s) {
        steps.emplace_back(plan.byStep.begin() + plan.stepStart[s],
                           plan.byStep.begin() + plan.stepStart[s + 1]);
        std::sort(steps.back().begin(), steps.back().end());
    }
    return steps;
}

TEST(StepRunner, RunsEachStepsChunksAtOnceAndCommitsBetweenStepsInOrder) {
    const PassPlan plans[] = {PlanPass(WholeLevel(100, 9), 100, 9, 2),
                              PlanPass(EdgeBand(70, 40, 5), 70, 40, 2)};
    for (const PassPlan& plan : plans) {
        ASSERT_GT(plan.widestStep, 1u);
        for (const std::uint32_t threads : {1u, 2u, 4u}) {
            FakePass pass{plan, threads, kNotRun};
            EXPECT_TRUE(pass.Run()) << threads << " threads";
            EXPECT_EQ(pass.log, StepsOf(plan, plan.StepCount())) << threads << " threads";
            EXPECT_FALSE(pass.ranAlone) << threads << " threads: a step's chunks ran one by one";
            EXPECT_FALSE(pass.sharedRoom) << threads << " threads: two chunks in one room";
        }
    }
}

TEST(StepRunner, ACommitThatFailsEndsTheRunBeforeTheNextStep) {
    const PassPlan plan = PlanPass(WholeLevel(100, 9), 100, 9, 2);
    for (const std::uint32_t threads : {1u, 2u}) {
        FakePass pass{plan, threads, 2};
        EXPECT_FALSE(pass.Run());
        EXPECT_EQ(pass.log, StepsOf(plan, 3)) << threads << " threads";
        for (std::uint32_t e = plan.stepStart[3]; e < plan.byStep.size(); ++e) {
            EXPECT_EQ(pass.commitsSeen[plan.byStep[e]], kNotRun) << "chunk " << plan.byStep[e];
        }
    }
    const PassPlan none = PlanPass({}, 8, 8, 2);
    FakePass empty{none, 2, kNotRun};
    EXPECT_TRUE(empty.Run());
    EXPECT_TRUE(empty.log.empty());
}

}  // namespace
}  // namespace weftloom::coherent
