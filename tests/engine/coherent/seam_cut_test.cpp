#include "engine/coherent/seam_cut.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace weftloom::coherent {
namespace {

constexpr std::uint8_t kGround = 90;
constexpr std::uint8_t kSpot = 230;
constexpr std::uint32_t kSide = 24;

// A grey ground with one bright spot (a disc of radius 2) at (11, 12).
Image SpotSample() {
    Image sample;
    sample.Allocate(kSide, kSide, 3);
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            const int dx = static_cast<int>(x) - 11;
            const int dy = static_cast<int>(y) - 12;
            const std::uint8_t v = dx * dx + dy * dy <= 4 ? kSpot : kGround;
            std::uint8_t* pixel = sample.PixelAt(x, y);
            pixel[0] = pixel[1] = pixel[2] = v;
        }
    }
    return sample;
}

// Two pieces side by side: the left half of the output copies the sample
// shifted by leftShift, the right half the sample shifted left by 8 (so
// that its columns 12 to 23 copy the sample's 4 to 15). Unshifted, the edge
// between them, at column 12, cuts the left piece's spot in two.
struct TwoPieces {
    Image sample = SpotSample();
    SourceMap map;
    Image output;

    explicit TwoPieces(std::uint32_t leftShift = 0) {
        output.Allocate(kSide, kSide, 3);
        map.width = kSide;
        map.height = kSide;
        for (std::uint32_t y = 0; y < kSide; ++y) {
            for (std::uint32_t x = 0; x < kSide; ++x) {
                map.positions.push_back({x < 12 ? x + leftShift : x - 8, y});
            }
        }
        Copy();
    }
    void Copy() {
        for (std::uint32_t y = 0; y < kSide; ++y) {
            for (std::uint32_t x = 0; x < kSide; ++x) {
                const SourcePosition& s = map.At(x, y);
                const std::uint8_t* from = sample.PixelAt(s.x, s.y);
                std::copy(from, from + 3, output.PixelAt(x, y));
            }
        }
    }
    // Every output pixel is its source's colour.
    bool Consistent() const {
        for (std::uint32_t y = 0; y < kSide; ++y) {
            for (std::uint32_t x = 0; x < kSide; ++x) {
                const SourcePosition& s = map.At(x, y);
                if (s.x >= kSide || s.y >= kSide ||
                    output.PixelAt(x, y)[0] != sample.PixelAt(s.x, s.y)[0]) {
                    return false;
                }
            }
        }
        return true;
    }
    // Bright pixels of the output around (cx, cy), across the wrap-around
    // edges.
    int SpotPixels(int cx, int cy) const {
        int count = 0;
        for (int y = cy - 3; y <= cy + 3; ++y) {
            for (int x = cx - 3; x <= cx + 3; ++x) {
                count += output.PixelAt(static_cast<std::uint32_t>(x + kSide) % kSide,
                                        static_cast<std::uint32_t>(y + kSide) % kSide)[0] == kSpot;
            }
        }
        return count;
    }
};

const auto kNever = [] { return false; };

TEST(SeamCut, MovesAnEdgeThroughASpotToWhereThePiecesAgree) {
    TwoPieces run;
    ASSERT_EQ(run.SpotPixels(11, 12), 9);  // the spot's left part only
    ASSERT_TRUE(SeamCut::Run(run.sample, run.map, run.output, 10000, {}, {}, kNever));
    // The spot is whole again (13 pixels), the right piece's own spot, at
    // column 19, is untouched, and every pixel is still its source's.
    EXPECT_EQ(run.SpotPixels(11, 12), 13);
    EXPECT_EQ(run.SpotPixels(19, 12), 13);
    EXPECT_TRUE(run.Consistent());
    // Far from the edges (and from the wrap), nothing moved.
    for (std::uint32_t y = 0; y < kSide; ++y) {
        EXPECT_EQ(run.map.At(4, y).x, 4u);
        EXPECT_EQ(run.map.At(18, y).x, 10u);
    }
}

TEST(SeamCut, MendsAnEdgeWhereTheOutputWrapsAsOneInside) {
    // The left piece copies the sample's columns 10 to 21: its spot's
    // left column, the sample's 9, would lie left of column 0, where the
    // output wraps to the right piece's column 23.
    TwoPieces run(10);
    ASSERT_EQ(run.SpotPixels(1, 12), 12);
    ASSERT_TRUE(SeamCut::Run(run.sample, run.map, run.output, 10000, {}, {}, kNever));
    // The left piece runs on across the edge, copying the sample's column 9.
    EXPECT_EQ(run.SpotPixels(1, 12), 13);
    EXPECT_EQ(run.map.At(kSide - 1, 12).x, 9u);
    EXPECT_TRUE(run.Consistent());
}

TEST(SeamCut, LeavesEverythingAsItIsWhenNoPieceMayGrowOrWhenAborted) {
    const TwoPieces before;
    struct Case {
        const char* what;
        std::uint64_t limit;
        bool abort;
    };
    const Case cases[] = {
        {"both pieces at the limit", kSide * kSide / 2, false},
        {"aborted", 10000, true},
    };
    for (const Case& c : cases) {
        TwoPieces run;
        const bool done = SeamCut::Run(run.sample, run.map, run.output, c.limit, {}, {},
                                       [&c] { return c.abort; });
        EXPECT_EQ(done, !c.abort) << c.what;
        EXPECT_EQ(run.map.positions, before.map.positions) << c.what;
        EXPECT_EQ(run.output.pixels, before.output.pixels) << c.what;
    }
}

TEST(SeamCut, KeepsAPieceWithinTheLimitWhenItGrows) {
    TwoPieces run;
    // Room for two more pixels than either piece's 288: too few to make
    // the spot whole (four), so neither piece grows.
    const std::uint64_t limit = kSide * 12 + 2;
    ASSERT_TRUE(SeamCut::Run(run.sample, run.map, run.output, limit, {}, {}, kNever));
    std::uint64_t left = 0;
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            left += run.map.At(x, y).x == x;
        }
    }
    EXPECT_LE(left, limit);
    EXPECT_EQ(run.SpotPixels(11, 12), 9);
    EXPECT_TRUE(run.Consistent());
}

}  // namespace
}  // namespace weftloom::coherent
