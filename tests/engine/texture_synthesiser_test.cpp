#include "engine/texture_synthesiser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_images.h"

namespace weftloom {
namespace {

using testing::HashImage;
using testing::PatternImage;

// A copy of one report, the row included, as a consumer keeps it.
struct Recorded {
    std::string status;
    ProgressPhase phase;
    std::int32_t level, levelCount, row, stepDone, stepTotal, overallDone, overallTotal;
    std::uint32_t levelWidth, levelHeight, bytesPerPixel;
    bool hasRow;
    void* context;
};

struct Recorder {
    std::vector<Recorded> reports;
    TextureSynthesiser* abortJob = nullptr;
    std::size_t abortAfter = 0;  // reports of abortOnStatus (of any, when empty)
    std::string abortOnStatus;
    std::size_t matched = 0;
};

void Record(const ProgressInfo* info) {
    auto* recorder = static_cast<Recorder*>(info->context);
    recorder->reports.push_back({info->status, info->phase, info->level, info->levelCount,
                                 info->row, info->stepDone, info->stepTotal, info->overallDone,
                                 info->overallTotal, info->levelWidth, info->levelHeight,
                                 info->bytesPerPixel, info->rowPixels != nullptr, info->context});
    if (recorder->abortOnStatus.empty() || recorder->abortOnStatus == info->status) {
        ++recorder->matched;
        if (recorder->abortJob != nullptr && recorder->matched >= recorder->abortAfter) {
            recorder->abortJob->Abort();
        }
    }
}

// Makes job report into recorder.
void Attach(TextureSynthesiser& job, Recorder& recorder) {
    job.progressCallback = &Record;
    job.callbackContext = &recorder;
}

TEST(TextureSynthesiserReports, WholeRunFromSixtyFourToOneTwentyEight) {
    TextureSynthesiser job;
    job.neighbourhoodSize = {1, 1, 1};  // the reports do not depend on the windows
    Recorder recorder;
    Attach(job, recorder);
    ASSERT_TRUE(job.Synthesise(PatternImage(64, 64, 3), 128, 128));
    EXPECT_EQ(job.pixelsTotal, 16384 + 4096 + 1024 + 256);
    EXPECT_EQ(job.pixelsDone, job.pixelsTotal);

    // The set-up phases count their rows, one report each, from 0: the
    // output's rows cleared and filled, then every pyramid level's.
    const auto& r = recorder.reports;
    std::size_t at = 0;
    const std::int32_t setUpRows[] = {2 * 128, 2 * (128 + 64 + 32 + 16), 2 * (64 + 32 + 16 + 8)};
    for (int phase = 0; phase < 3; ++phase) {
        SCOPED_TRACE(::testing::Message() << "set-up phase " << phase);
        for (std::int32_t step = 0; step <= setUpRows[phase]; ++step, ++at) {
            ASSERT_LT(at, r.size());
            EXPECT_EQ(r[at].phase, static_cast<ProgressPhase>(phase + 1));
            EXPECT_EQ(r[at].level, -1);
            EXPECT_EQ(r[at].levelCount, 0);
            EXPECT_EQ(r[at].row, -1);
            EXPECT_EQ(r[at].stepDone, step);
            EXPECT_EQ(r[at].stepTotal, setUpRows[phase]);
            EXPECT_EQ(r[at].overallTotal, 0);
        }
    }
    std::int32_t overall = 0;
    const std::uint32_t sampleHeights[] = {8, 16, 32, 64};  // levels 3, 2, 1, 0
    const std::uint32_t outputSides[] = {16, 32, 64, 128};
    for (int pass = 0; pass < 4; ++pass) {
        SCOPED_TRACE(::testing::Message() << "pass " << pass);
        for (std::uint32_t y = 0; y < sampleHeights[pass]; ++y, ++at) {
            ASSERT_LT(at, r.size());
            EXPECT_EQ(r[at].status, "Building data cloud");
            EXPECT_EQ(r[at].stepDone, static_cast<std::int32_t>(y));
            EXPECT_EQ(r[at].stepTotal, static_cast<std::int32_t>(sampleHeights[pass]));
            EXPECT_EQ(r[at].row, -1);
            EXPECT_EQ(r[at].overallTotal, 0);
        }
        const auto side = static_cast<std::int32_t>(outputSides[pass]);
        ASSERT_LT(at, r.size());
        EXPECT_EQ(r[at].status, "Synthesizing");
        EXPECT_EQ(r[at].row, -1);
        EXPECT_FALSE(r[at].hasRow);
        EXPECT_EQ(r[at].stepDone, 0);
        EXPECT_EQ(r[at].stepTotal, side);
        EXPECT_EQ(r[at].overallDone, overall);
        EXPECT_EQ(r[at].overallTotal, 21760);
        ++at;
        for (std::int32_t y = 0; y < side; ++y, ++at) {
            ASSERT_LT(at, r.size());
            overall += side;
            EXPECT_EQ(r[at].status, "Synthesizing");
            EXPECT_EQ(r[at].row, y);
            EXPECT_TRUE(r[at].hasRow);
            EXPECT_EQ(r[at].stepDone, y + 1);
            EXPECT_EQ(r[at].stepTotal, side);
            EXPECT_EQ(r[at].levelWidth, outputSides[pass]);
            EXPECT_EQ(r[at].levelHeight, outputSides[pass]);
            EXPECT_EQ(r[at].bytesPerPixel, 3u);
            EXPECT_EQ(r[at].overallDone, overall);
            EXPECT_EQ(r[at].overallTotal, 21760);
        }
    }
    EXPECT_EQ(at, r.size());
    // Every report of a level names it, and its phase is the one its text says.
    std::int32_t level = 4;
    for (const auto& report : r) {
        EXPECT_EQ(report.context, &recorder);
        EXPECT_EQ(report.status, StatusText(report.phase));
        if (report.phase == ProgressPhase::BuildingDataCloud && report.stepDone == 0) {
            --level;
        }
        if (report.levelCount != 0) {
            EXPECT_EQ(report.levelCount, 4);
            EXPECT_EQ(report.level, level) << report.status;
        }
    }
    EXPECT_EQ(level, 0);
}

TEST(TextureSynthesiserReports, PreviewRowsPointAtTheFinishedRow) {
    // The row a report points to is the row the finished level holds; at level
    // 0 that is the row of the result.
    struct RowKeeper {
        std::vector<std::vector<std::uint8_t>> rows;
    } keeper;
    TextureSynthesiser job;
    job.neighbourhoodSize = {3, 3, 3};
    job.callbackContext = &keeper;
    job.progressCallback = [](const ProgressInfo* info) {
        auto* k = static_cast<RowKeeper*>(info->context);
        if (info->rowPixels != nullptr && info->levelWidth == 20) {
            k->rows.emplace_back(info->rowPixels,
                                 info->rowPixels + info->levelWidth * info->bytesPerPixel);
        }
    };
    ASSERT_TRUE(job.Synthesise(PatternImage(16, 16, 4), 20, 12));
    ASSERT_EQ(keeper.rows.size(), 12u);
    for (std::uint32_t y = 0; y < 12; ++y) {
        const std::uint8_t* row = job.result->PixelAt(0, y);
        EXPECT_EQ(keeper.rows[y], std::vector<std::uint8_t>(row, row + 20 * 4)) << "row " << y;
    }
}

// An abort from a report of each phase (or before the run) stops the run
// there: nothing after that report, no row and no pixel counted as done.
TEST(TextureSynthesiserAbort, StopsInThePhaseItCameIn) {
    struct Case {
        const char* status;  // the report that aborts; empty: Abort before the run
        std::size_t after;   // the report of that status that aborts, from 1
        SubsamplingMode mode;
        std::uint32_t sampleSide, outputSide;
    };
    const Case cases[] = {
        {"", 0, SubsamplingMode::FixedCount, 16, 32},
        // The output is cleared row by row, polling the flag: no image is left.
        {"Initialising output", 1, SubsamplingMode::FixedCount, 16, 64},
        {"Initialising output", 30, SubsamplingMode::FixedCount, 16, 64},
        // In the middle of a pyramid: the next row sees it.
        {"Building output pyramid", 3, SubsamplingMode::FixedCount, 16, 64},
        {"Building input pyramid", 40, SubsamplingMode::FixedCount, 16, 64},
        // The second row of level 3's sample, with and without subsampling.
        {"Building data cloud", 2, SubsamplingMode::Disabled, 32, 32},
        {"Building data cloud", 2, SubsamplingMode::FixedCount, 32, 32},
        // The level-3 pass's opening report.
        {"Synthesizing", 1, SubsamplingMode::Disabled, 32, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.status) + ", report " + std::to_string(c.after));
        TextureSynthesiser job;
        job.subsamplingMode = c.mode;
        Recorder recorder;
        Attach(job, recorder);
        if (*c.status == '\0') {
            job.Abort();
        } else {
            recorder.abortJob = &job;
            recorder.abortOnStatus = c.status;
            recorder.abortAfter = c.after;
        }
        EXPECT_FALSE(job.Synthesise(PatternImage(c.sampleSide, c.sampleSide, 3), c.outputSide,
                                    c.outputSide));
        ASSERT_FALSE(recorder.reports.empty());
        if (*c.status != '\0') {
            EXPECT_EQ(recorder.matched, c.after) << "no report of the phase after the abort";
        }
        EXPECT_EQ(recorder.reports.back().status,
                  *c.status == '\0' ? std::string("Initialising output") : std::string(c.status));
        EXPECT_EQ(recorder.reports.back().row, -1) << "no row was reported";
        EXPECT_EQ(job.pixelsDone, 0);
        if (std::string(c.status) == "Initialising output") {
            ASSERT_NE(job.result, nullptr);
            EXPECT_TRUE(job.result->IsEmpty());
        }
    }
}

TEST(TextureSynthesiserAbort, FromAnotherThreadWhileTheFinestLevelRuns) {
    // The way the application stops a run: the worker is inside a level pass
    // and another thread calls Abort.
    struct Signal {
        std::mutex mutex;
        std::condition_variable changed;
        bool reachedFinestLevel = false;
        std::int32_t rowsAfterAbort = 0;
        std::atomic<bool> aborted{false};
    } signal;
    TextureSynthesiser job;
    job.callbackContext = &signal;
    job.progressCallback = [](const ProgressInfo* info) {
        auto* s = static_cast<Signal*>(info->context);
        if (s->aborted.load()) {
            ++s->rowsAfterAbort;
        }
        if (info->row == 0 && info->levelWidth == 96) {
            std::lock_guard lock(s->mutex);
            s->reachedFinestLevel = true;
            s->changed.notify_all();
        }
    };
    bool finished = true;
    std::thread worker([&] { finished = job.Synthesise(PatternImage(48, 48, 3), 96, 96); });
    {
        std::unique_lock lock(signal.mutex);
        signal.changed.wait(lock, [&] { return signal.reachedFinestLevel; });
    }
    job.Abort();
    signal.aborted = true;
    worker.join();
    EXPECT_FALSE(finished);
    EXPECT_EQ(signal.rowsAfterAbort, 0) << "the run stops within one pixel's search";
    EXPECT_EQ(job.outputPyramid, nullptr);
}

TEST(TextureSynthesiserInput, ZeroSizeMeansTheSamplesOwnSize) {
    TextureSynthesiser job;
    job.neighbourhoodSize = {3, 3, 3};
    ASSERT_TRUE(job.Synthesise(PatternImage(20, 14, 3), 0, 0));
    EXPECT_EQ(job.result->width, 20u);
    EXPECT_EQ(job.result->height, 14u);
    TextureSynthesiser half;
    half.neighbourhoodSize = {3, 3, 3};
    ASSERT_TRUE(half.Synthesise(PatternImage(20, 14, 3), 9, 0));
    EXPECT_EQ(half.result->width, 9u);
    EXPECT_EQ(half.result->height, 14u);
}

TEST(TextureSynthesiserInput, RefusesWhatItCannotSynthesise) {
    Image empty;
    empty.Allocate(0, 10, 3);
    TextureSynthesiser job;
    Recorder recorder;
    Attach(job, recorder);
    EXPECT_FALSE(job.Synthesise(empty, 8, 8));
    EXPECT_FALSE(job.Synthesise(PatternImage(8, 8, 2), 8, 8));
    Image truncated = PatternImage(8, 8, 3);
    truncated.pixels.resize(10);
    EXPECT_FALSE(job.Synthesise(truncated, 8, 8));
    // 65535 x 65535 pixels overflow the signed 32-bit pixel counters.
    EXPECT_FALSE(job.Synthesise(PatternImage(8, 8, 3), 65535, 65535));
    EXPECT_FALSE(job.Synthesise(PatternImage(8, 8, 3), 0xFFFFFFFFu, 1));
    EXPECT_TRUE(recorder.reports.empty()) << "refused before anything started";
}

TEST(TextureSynthesiserInput, InvalidMetricFailsAfterTheSetUpReports) {
    TextureSynthesiser job;
    job.metric = static_cast<DistanceMetric>(3);
    Recorder recorder;
    Attach(job, recorder);
    EXPECT_FALSE(job.Synthesise(PatternImage(16, 16, 3), 16, 16));
    ASSERT_FALSE(recorder.reports.empty());
    EXPECT_EQ(recorder.reports.back().status, "Building input pyramid");
}

TEST(TextureSynthesiserInput, NegativeOrHugeWindowSidesOrAMissingLevelFailThePass) {
    for (std::int32_t side : {-3, TextureSynthesiser::kMaxNeighbourhoodSide + 1}) {
        TextureSynthesiser job;
        job.neighbourhoodSize = {3, 3, side};
        EXPECT_FALSE(job.Synthesise(PatternImage(16, 16, 3), 16, 16)) << side;
    }
    TextureSynthesiser missing;
    missing.samplePyramid = std::make_unique<ImagePyramid>(PatternImage(8, 8, 3), 2);
    missing.outputPyramid = std::make_unique<ImagePyramid>(PatternImage(8, 8, 3), 2);
    EXPECT_FALSE(missing.SynthesiseLevel(2, 3, 1)) << "no sample level 2";
}

// Golden outputs of small runs. A changed hash is a changed behaviour: find
// out which step changed and why, and explain it; never paste the new number.
struct GoldenCase {
    const char* name;
    DistanceMetric metric;
    SubsamplingMode mode;
    std::uint32_t bytesPerPixel;
    const char* hash;
};

void PrintTo(const GoldenCase& c, std::ostream* out) {
    *out << c.name;
}

class TextureSynthesiserGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(TextureSynthesiserGolden, MatchesTheRecordedOutput) {
    const GoldenCase& c = GetParam();
    TextureSynthesiser job;
    job.metric = c.metric;
    job.subsamplingMode = c.mode;
    job.subsamplePercent = 25;
    job.minimumPixelCount = 100;
    job.subsampleCount = 150;
    job.neighbourhoodSize = {7, 5, 3};
    ASSERT_TRUE(job.Synthesise(PatternImage(32, 28, c.bytesPerPixel), 40, 36));
    EXPECT_EQ(HashImage(*job.result), c.hash);
}

INSTANTIATE_TEST_SUITE_P(
    SmallRuns, TextureSynthesiserGolden,
    ::testing::Values(GoldenCase{"KdTreeL1", DistanceMetric::L1, SubsamplingMode::Disabled, 3,
                                 "3d8459bd7aa0a96b"},
                      GoldenCase{"KdTreeL2", DistanceMetric::L2, SubsamplingMode::Disabled, 3,
                                 "2aa4595cd5d51148"},
                      GoldenCase{"KdTreeLinf", DistanceMetric::Linf, SubsamplingMode::Disabled, 3,
                                 "3d4b507d5ed55a8e"},
                      GoldenCase{"PercentL1", DistanceMetric::L1, SubsamplingMode::Percentage, 3,
                                 "6ac55c0e1641b2aa"},
                      GoldenCase{"PercentL2", DistanceMetric::L2, SubsamplingMode::Percentage, 3,
                                 "116ee91f226f22f2"},
                      GoldenCase{"PercentLinf", DistanceMetric::Linf, SubsamplingMode::Percentage,
                                 3, "0ba44f776b08b7ad"},
                      GoldenCase{"CountL1", DistanceMetric::L1, SubsamplingMode::FixedCount, 3,
                                 "cd217f97d7c5f2df"},
                      GoldenCase{"CountL2", DistanceMetric::L2, SubsamplingMode::FixedCount, 3,
                                 "1e36e5490053ba27"},
                      GoldenCase{"CountLinf", DistanceMetric::Linf, SubsamplingMode::FixedCount, 3,
                                 "e96172e201e532ff"},
                      GoldenCase{"KdTreeL2FourBytes", DistanceMetric::L2, SubsamplingMode::Disabled,
                                 4, "b20c0ee318158147"},
                      GoldenCase{"CountL1FourBytes", DistanceMetric::L1,
                                 SubsamplingMode::FixedCount, 4, "eb3f8cf801d8af3f"}),
    [](const ::testing::TestParamInfo<GoldenCase>& param) {
        return std::string(param.param.name);
    });

}  // namespace
}  // namespace weftloom
