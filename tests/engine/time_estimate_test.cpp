#include "engine/time_estimate.h"

#include <gtest/gtest.h>

#include "engine/accuracy.h"

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

TEST(RemainingSeconds, ExtrapolatesFromTheDoneFraction) {
    EXPECT_EQ(RemainingSeconds(10, 1, 4), 30);
    EXPECT_EQ(RemainingSeconds(10, 3, 4), 3) << "3.33 truncates";
    EXPECT_EQ(RemainingSeconds(10, 0, 4), 0);
    EXPECT_EQ(RemainingSeconds(10, 4, 4), 0);
    EXPECT_EQ(RemainingSeconds(0, 1, 1000), 0);
    EXPECT_EQ(RemainingSeconds(1, 1, 86401), 86400);
}

ProgressInfo Report(std::uint32_t levelWidth, std::int32_t done, std::int32_t total) {
    ProgressInfo info;
    info.status = "Synthesizing";
    info.levelWidth = levelWidth;
    info.overallDone = done;
    info.overallTotal = total;
    return info;
}

TEST(UpdateTimeLeft, CoarseRowsHaveNoEstimateAndSetUpLeavesTheText) {
    std::string text;
    // Set-up and cloud-building reports carry neither a row nor overall counts.
    EXPECT_FALSE(UpdateTimeLeft(Report(0, 0, 0), 256, 10, text));
    EXPECT_EQ(text, "");
    // The opening report of the first level: overall counts, no row.
    EXPECT_TRUE(UpdateTimeLeft(Report(0, 0, 87040), 256, 3, text));
    EXPECT_EQ(text, "00:00:00");
    // Rows of levels 3 and 2 (32 and 64 wide) are narrower than half of 256.
    EXPECT_TRUE(UpdateTimeLeft(Report(64, 100, 87040), 256, 3, text));
    EXPECT_EQ(text, kNoAccurateEstimate);
    // Level 1 (128 wide) is not narrower than half: a computed estimate.
    EXPECT_TRUE(UpdateTimeLeft(Report(128, 43520, 87040), 256, 60, text));
    EXPECT_EQ(text, "00:01:00");
    EXPECT_FALSE(UpdateTimeLeft(Report(0, 0, 0), 256, 99, text));
    EXPECT_EQ(text, "00:01:00");
}

TEST(NeighbourhoodSideFor, EachStepDownInAccuracyOrLevelNarrowsTheWindowByTwo) {
    // The finest level at High accuracy has the widest window, 9.
    for (std::int32_t level = 0; level < 3; ++level) {
        for (std::int32_t accuracy = 0; accuracy < 3; ++accuracy) {
            const std::int32_t side = NeighbourhoodSideFor(level, accuracy);
            if (level == 2 && accuracy == 2) {
                EXPECT_EQ(side, 1) << "Low is not offered for the coarsest level";
            } else {
                EXPECT_EQ(side, 9 - 2 * (level + accuracy)) << level << " " << accuracy;
            }
        }
    }
    EXPECT_EQ(NeighbourhoodSideFor(0, -1), 1) << "no selection";
    EXPECT_EQ(NeighbourhoodSideFor(3, 0), 1) << "no such level";
}

}  // namespace
}  // namespace weftloom
