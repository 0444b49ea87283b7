#include "engine/time_estimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "engine/accuracy.h"
#include "engine/texture_synthesiser.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

TEST(FormatTimeSpan, FieldsAndPadding) {
    EXPECT_EQ(FormatTimeSpan(3725, "%H:%M:%S"), "01:02:05");
    EXPECT_EQ(FormatTimeSpan(90061, "%D days %H:%M:%S"), "1 days 01:01:01");
    EXPECT_EQ(FormatTimeSpan(12 * 86400 + 59, "%D/%S"), "12/59");
    EXPECT_EQ(FormatTimeSpan(0, "%H:%M:%S"), "00:00:00");
    EXPECT_EQ(FormatTimeSpan(-5, "%S"), "00");
    EXPECT_EQ(FormatTimeSpan(61, "100%% %M%x%"), "100% 01%x%");
    // The time left switches to days at exactly one day.
    EXPECT_EQ(FormatTimeLeft(86400), "1 days 00:00:00");
    EXPECT_EQ(FormatTimeLeft(86399), "23:59:59");
    EXPECT_EQ(FormatTimeLeft(0), "00:00:00");
}

// The reports of a real run of each search, 64 x 64 into 128 x 128, kept by
// value.
const std::vector<ProgressInfo>& ReportsOfARun(SearchMethod search = SearchMethod::Exact) {
    static std::vector<ProgressInfo> runs[2];
    std::vector<ProgressInfo>& reports = runs[search == SearchMethod::Coherent ? 1 : 0];
    if (reports.empty()) {
        TextureSynthesiser job;
        job.neighbourhoodSize = {3, 3, 3};
        job.subsamplingMode = SubsamplingMode::Disabled;
        job.searchMethod = search;
        job.callbackContext = &reports;
        job.progressCallback = [](const ProgressInfo* info) {
            ProgressInfo copy = *info;
            copy.rowPixels = nullptr;
            static_cast<std::vector<ProgressInfo>*>(info->context)->push_back(copy);
        };
        EXPECT_TRUE(job.Synthesise(testing::PatternImage(64, 64, 3), 128, 128));
    }
    return reports;
}

TEST(TimeLeftEstimator, SetUpLeavesTheTextCoarseRowsHaveNoEstimate) {
    TimeLeftEstimator estimator(128);
    std::string text = "unchanged";
    for (const ProgressInfo& info : ReportsOfARun()) {
        const std::string before = text;
        const bool set = estimator.Update(info, 0, text);
        const bool synthesizing = std::string(info.status) == status::kSynthesizing;
        EXPECT_EQ(set, synthesizing && info.overallTotal != 0);
        if (!synthesizing) {
            EXPECT_EQ(text, before) << info.status;
        } else if (info.row >= 0 && info.levelWidth < 64) {
            EXPECT_EQ(text, kNoAccurateEstimate) << info.levelWidth;
        } else if (info.row < 0 && info.overallDone == 0) {
            EXPECT_EQ(text, "00:00:00") << "nothing measured at the first level's start";
        }
    }
}

// Costs injected through the clock. Per pixel, each finer level costs more
// than the one before (a larger cloud, a larger window); a level's cloud (the
// exact search's) or look-alike sets (the coherent search's) cost in
// proportion to its sample level, and the coherent search sets each level up
// before its first row. The coherent search's overall count weighs its passes
// by what they were measured to cost; here the finest level's later passes
// and the edge band's stray from those weights by a tenth, both ways.
// After a tenth of the run, every estimate lies within a quarter of the time
// really left.
// The coherent search shares the overall count among its levels by their work:
// each level's reports name its part, the parts make up the whole, and each
// level's count ends where its part does. The exact search's parts are its
// levels' pixels, which its reports leave unsaid.
TEST(OverallCount, TheCoherentSearchSharesItAmongItsLevelsByTheirWork) {
    for (const SearchMethod search : {SearchMethod::Exact, SearchMethod::Coherent}) {
        SCOPED_TRACE(static_cast<int>(search));
        std::map<std::int32_t, std::int32_t> parts;  // level, its part
        std::map<std::int32_t, std::int32_t> ends;   // level, its count at its last report
        std::map<std::int32_t, std::int32_t> starts;
        std::int32_t total = 0;
        for (const ProgressInfo& info : ReportsOfARun(search)) {
            if (info.phase != ProgressPhase::Synthesizing) {
                continue;
            }
            total = info.overallTotal;
            if (search == SearchMethod::Exact) {
                EXPECT_EQ(info.levelOverall, 0);
                continue;
            }
            ASSERT_GT(info.levelOverall, 0);
            parts[info.level] = info.levelOverall;
            starts.try_emplace(info.level, info.overallDone);
            ends[info.level] = info.overallDone;
        }
        if (search == SearchMethod::Exact) {
            continue;
        }
        ASSERT_EQ(parts.size(), 4u);
        std::int32_t sum = 0;
        for (const auto& [level, part] : parts) {
            sum += part;
            EXPECT_EQ(ends[level] - starts[level], part) << "level " << level;
        }
        EXPECT_EQ(sum, total);
        // The finest level's corrections only mend: it holds three quarters of
        // the pixels, but less of the work.
        EXPECT_LT(parts[0], total * 3 / 4);
        EXPECT_GT(parts[0], total / 2);
    }
}

TEST(TimeLeftEstimator, WithinAQuarterAfterTheFirstTenth) {
    struct Costs {
        SearchMethod search;
        double perPixelGrowth;  // per pixel, a level costs this much more than the coarser
        double cloudPerPixel;   // a level's cloud, seconds per sample pixel
        double setUpPerPixel;   // before a level's first row, seconds per pixel
        double mending;         // the finest level's later passes, against their weight
        double band;            // the edge band's passes, against their weight
    };
    const Costs cases[] = {
        {SearchMethod::Exact, 6.0, 1e-4, 0, 1, 1},
        {SearchMethod::Exact, 2.5, 1e-3, 0, 1, 1},
        {SearchMethod::Exact, 12.0, 0.0, 0, 1, 1},
        {SearchMethod::Coherent, 2.0, 1e-4, 1e-5, 1.0, 1.0},
        {SearchMethod::Coherent, 1.0, 1e-5, 1e-6, 0.9, 1.1},
        {SearchMethod::Coherent, 1.5, 1e-4, 2e-6, 1.1, 0.9},
    };
    for (const Costs& costs : cases) {
        SCOPED_TRACE(::testing::Message()
                     << static_cast<int>(costs.search) << " growth " << costs.perPixelGrowth);
        // The time of every report, from the cost of the work before it.
        const std::vector<ProgressInfo>& reports = ReportsOfARun(costs.search);
        std::vector<double> times;
        double now = 0;
        std::int32_t lastDone = 0;
        for (const ProgressInfo& info : reports) {
            const double samplePixels = std::pow(64 >> std::max(info.level, 0), 2);
            if (std::string(info.status) == status::kBuildingDataCloud) {
                now += costs.cloudPerPixel * samplePixels / std::max(info.stepTotal, 1);
            } else if (info.row >= 0) {
                // The work the report covers is what the overall count moved by.
                const double pixels = info.overallDone - lastDone;
                const std::int32_t pass = (info.stepDone - 1) / static_cast<int>(info.levelHeight);
                const double relative = pass == 0         ? 1.0
                                        : pass >= 2       ? costs.band
                                        : info.level == 0 ? costs.mending
                                                          : 1.0;
                now += pixels * 1e-5 * relative * std::pow(costs.perPixelGrowth, 3 - info.level);
                if (info.stepDone == 1) {
                    now += costs.setUpPerPixel * info.levelWidth * info.levelHeight;
                }
            }
            lastDone = std::max(lastDone, info.overallDone);
            times.push_back(now);
        }
        TimeLeftEstimator estimator(128);
        std::string text;
        int checked = 0;
        for (std::size_t i = 0; i < reports.size(); ++i) {
            if (estimator.Update(reports[i], times[i], text) && times[i] >= now / 10 &&
                text != kNoAccurateEstimate) {
                const double left = now - times[i];
                EXPECT_NEAR(estimator.RemainingSeconds(), left, left / 4 + 1e-9)
                    << "at " << times[i] << " of " << now << " s";
                ++checked;
            }
        }
        EXPECT_GT(checked, 100);
    }
}

// The dialog hands back -1 for a list with no choice (level 3 given Low).
TEST(NeighbourhoodSideFor, NoChoiceOrNoSuchLevelGivesSideOne) {
    EXPECT_EQ(NeighbourhoodSideFor(0, -1), 1);
    EXPECT_EQ(NeighbourhoodSideFor(3, 0), 1);
}

}  // namespace
}  // namespace weftloom
