#include "engine/coherent/colour_balance.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace weftloom::coherent {
namespace {

// Sample positions 0-5 in bin 10 (dark), 6-7 in bin 60 (bright): the bright
// quarter of the sample.
ColourBalance DarkAndBright() {
    ColourBalance balance;
    balance.Reset({10, 10, 10, 10, 10, 10, 60, 60});
    return balance;
}

TEST(ColourBalance, BinsFollowBrightness) {
    const std::uint8_t black[] = {0, 0, 0};
    const std::uint8_t white[] = {255, 255, 255};
    const std::uint8_t green[] = {0, 255, 0};  // green counts most
    const std::uint8_t blue[] = {0, 0, 255};
    EXPECT_EQ(ColourBalance::BinOf(black), 0);
    EXPECT_EQ(ColourBalance::BinOf(white), 63);
    EXPECT_GT(ColourBalance::BinOf(green), ColourBalance::BinOf(blue));
}

TEST(ColourBalance, OnlyTheOverRepresentedPayAndTheShortSetTheMark) {
    struct Case {
        const char* name;
        int dark;    // output pixels copied from dark positions
        int bright;  // and from bright ones
        std::uint64_t counted;
        bool darkPays;
        bool brightPays;
    };
    const Case cases[] = {
        {"as in the sample", 30, 10, 1, false, false},
        {"the bright fading", 38, 2, 1, true, false},
        {"the bright in excess", 20, 20, 1, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ColourBalance balance = DarkAndBright();
        for (int i = 0; i < c.dark; ++i) {
            balance.Add(static_cast<std::uint32_t>(i % 6));
        }
        for (int i = 0; i < c.bright; ++i) {
            balance.Add(6);
        }
        std::array<std::uint64_t, ColourBalance::kBins> penalty{};
        balance.Penalties(1000, 16, c.counted, penalty);
        EXPECT_EQ(penalty[10] > 0, c.darkPays) << penalty[10];
        EXPECT_EQ(penalty[60] > 0, c.brightPays) << penalty[60];
        EXPECT_EQ(penalty[0], 0u) << "a bin the sample lacks";
    }
}

// Early in a pass, the shares are taken of at least `counted` pixels: a
// handful of dark pixels weighs little.
TEST(ColourBalance, AHandfulCountedWeighsLittle) {
    ColourBalance balance = DarkAndBright();
    for (int i = 0; i < 3; ++i) {
        balance.Add(0);
    }
    std::array<std::uint64_t, ColourBalance::kBins> few{};
    std::array<std::uint64_t, ColourBalance::kBins> judged{};
    balance.Penalties(1000, 16, 400, few);
    balance.Penalties(1000, 16, 1, judged);
    EXPECT_LT(few[10] * 50, judged[10]);
}

TEST(ColourBalance, MovesKeepTheCountsAndThePenaltyGrowsWithTheExcess) {
    ColourBalance balance = DarkAndBright();
    for (int i = 0; i < 30; ++i) {
        balance.Add(0);
    }
    for (int i = 0; i < 10; ++i) {
        balance.Add(7);
    }
    std::array<std::uint64_t, ColourBalance::kBins> even{};
    balance.Penalties(1000, 16, 1, even);
    EXPECT_EQ(even[10], 0u);
    std::vector<std::uint64_t> dark;
    for (int moved = 1; moved <= 6; ++moved) {
        balance.Move(7, 3);  // a bright pixel becomes dark
        std::array<std::uint64_t, ColourBalance::kBins> penalty{};
        balance.Penalties(1000, 16, 1, penalty);
        dark.push_back(penalty[10]);
        EXPECT_EQ(penalty[60], 0u);
    }
    for (std::size_t i = 1; i < dark.size(); ++i) {
        EXPECT_GT(dark[i], dark[i - 1]);
    }
    // Weight 16: one mean distance per share too many. With 4 of the due 10
    // bright left, dark holds 36 of 30 due and bright 4 of 10: the mark is
    // 0.4, dark's share 1.2, so dark pays 0.8 of the mean distance.
    EXPECT_NEAR(static_cast<double>(dark.back()), 800.0, 2.0);
}

}  // namespace
}  // namespace weftloom::coherent
