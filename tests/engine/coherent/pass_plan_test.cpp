#include "engine/coherent/pass_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace weftloom::coherent {
namespace {

struct Case {
    const char* name;
    std::uint32_t width, height, reach;
    std::vector<Span> spans;
};

std::vector<Case> Cases() {
    return {
        {"whole 64x48", 64, 48, 2, WholeLevel(64, 48)},
        {"whole 37x23, reach 4", 37, 23, 4, WholeLevel(37, 23)},
        {"whole 7x5, narrower than a chunk", 7, 5, 1, WholeLevel(7, 5)},
        {"whole 3x70", 3, 70, 2, WholeLevel(3, 70)},
        {"whole 100x1", 100, 1, 2, WholeLevel(100, 1)},
        {"band 64x48", 64, 48, 2, EdgeBand(64, 48, 5)},
        {"band 41x29, side 9", 41, 29, 4, EdgeBand(41, 29, 9)},
        {"band 9x7, side wider than half", 9, 7, 2, EdgeBand(9, 7, 9)},
        {"band 5x40", 5, 40, 1, EdgeBand(5, 40, 3)},
    };
}

// Each chunk's output pixels (written) and the pixels within reach of them,
// wrapping round (read), worked out pixel by pixel.
struct Footprint {
    std::vector<std::uint32_t> writes;
    std::vector<bool> reads;
};

std::vector<Footprint> Footprints(const Case& c, const PassPlan& plan) {
    std::vector<Footprint> all;
    const auto r = static_cast<std::int64_t>(c.reach);
    for (const PassPlan::Chunk& chunk : plan.chunks) {
        Footprint f{{}, std::vector<bool>(std::size_t{c.width} * c.height, false)};
        const Span& span = c.spans[chunk.span];
        for (std::uint32_t i = 0; i < chunk.count; ++i) {
            const std::uint32_t x = (span.firstColumn + chunk.first + i) % c.width;
            f.writes.push_back(span.y * c.width + x);
            for (std::int64_t dy = -r; dy <= r; ++dy) {
                for (std::int64_t dx = -r; dx <= r; ++dx) {
                    const std::int64_t ny = ((span.y + dy) % c.height + c.height) % c.height;
                    const std::int64_t nx = ((x + dx) % c.width + c.width) % c.width;
                    f.reads[static_cast<std::size_t>(ny * c.width + nx)] = true;
                }
            }
        }
        all.push_back(std::move(f));
    }
    return all;
}

bool Touches(const Footprint& writer, const Footprint& other) {
    for (const std::uint32_t p : writer.writes) {
        if (other.reads[p]) {
            return true;  // reads include the chunk's own pixels: writes too
        }
    }
    return false;
}

TEST(PassPlan, ChunksCoverTheSpansInPassOrder) {
    for (const Case& c : Cases()) {
        const PassPlan plan = PlanPass(c.spans, c.width, c.height, c.reach);
        std::uint32_t pixel = 0;
        std::uint32_t span = 0;
        std::uint32_t column = 0;
        for (const PassPlan::Chunk& chunk : plan.chunks) {
            if (column == c.spans[span].columns) {
                ++span;
                column = 0;
            }
            EXPECT_EQ(chunk.span, span) << c.name;
            EXPECT_EQ(chunk.first, column) << c.name;
            EXPECT_EQ(chunk.firstPixel, pixel) << c.name;
            EXPECT_LE(chunk.count, kChunkPixels) << c.name;
            column += chunk.count;
            pixel += chunk.count;
        }
        EXPECT_EQ(span + 1, c.spans.size()) << c.name;
        EXPECT_EQ(pixel, plan.pixels) << c.name;
    }
}

// Chunks that touch each other's pixels run in pass order, in different
// steps; the others may share a step, and on a wide level many do.
TEST(PassPlan, StepsKeepEveryConflictInPassOrder) {
    for (const Case& c : Cases()) {
        const PassPlan plan = PlanPass(c.spans, c.width, c.height, c.reach);
        std::vector<std::uint32_t> stepOf(plan.chunks.size(), ~0u);
        std::uint32_t widest = 0;
        for (std::uint32_t s = 0; s < plan.StepCount(); ++s) {
            ASSERT_LT(plan.stepStart[s], plan.stepStart[s + 1]) << c.name << ": empty step " << s;
            widest = std::max(widest, plan.stepStart[s + 1] - plan.stepStart[s]);
            for (std::uint32_t e = plan.stepStart[s]; e < plan.stepStart[s + 1]; ++e) {
                ASSERT_EQ(stepOf[plan.byStep[e]], ~0u) << c.name << ": chunk in two steps";
                stepOf[plan.byStep[e]] = s;
                if (e > plan.stepStart[s]) {
                    EXPECT_LT(plan.byStep[e - 1], plan.byStep[e]) << c.name << ", step " << s;
                }
            }
        }
        ASSERT_EQ(plan.stepStart.back(), plan.chunks.size()) << c.name;
        EXPECT_EQ(plan.widestStep, widest) << c.name;
        const std::vector<Footprint> footprints = Footprints(c, plan);
        for (std::uint32_t b = 0; b < footprints.size(); ++b) {
            for (std::uint32_t a = 0; a < b; ++a) {
                if (Touches(footprints[a], footprints[b]) ||
                    Touches(footprints[b], footprints[a])) {
                    ASSERT_LT(stepOf[a], stepOf[b]) << c.name << ": chunks " << a << ", " << b;
                }
            }
        }
    }
    EXPECT_GE(PlanPass(WholeLevel(256, 32), 256, 32, 2).widestStep, 4u);
    EXPECT_GE(PlanPass(EdgeBand(64, 48, 5), 64, 48, 2).widestStep, 2u);
}

TEST(PassPlan, ThePlanOfAPrefixIsThePrefixOfThePlan) {
    for (const Case& c : Cases()) {
        const PassPlan plan = PlanPass(c.spans, c.width, c.height, c.reach);
        const auto count = static_cast<std::uint32_t>(c.spans.size());
        for (const std::uint32_t n : {0u, 1u, count / 3, count - 1, count}) {
            const PassPlan prefix = PlanPrefix(plan, n);
            const PassPlan direct =
                PlanPass(std::vector<Span>(c.spans.begin(), c.spans.begin() + n), c.width, c.height,
                         c.reach);
            const std::string where = std::string(c.name) + ", " + std::to_string(n) + " spans";
            ASSERT_EQ(prefix.chunks.size(), direct.chunks.size()) << where;
            for (std::size_t i = 0; i < direct.chunks.size(); ++i) {
                EXPECT_EQ(prefix.chunks[i].span, direct.chunks[i].span) << where;
                EXPECT_EQ(prefix.chunks[i].first, direct.chunks[i].first) << where;
                EXPECT_EQ(prefix.chunks[i].count, direct.chunks[i].count) << where;
                EXPECT_EQ(prefix.chunks[i].firstPixel, direct.chunks[i].firstPixel) << where;
            }
            EXPECT_EQ(prefix.byStep, direct.byStep) << where;
            EXPECT_EQ(prefix.stepStart, direct.stepStart) << where;
            EXPECT_EQ(prefix.pixels, direct.pixels) << where;
            EXPECT_EQ(prefix.widestStep, direct.widestStep) << where;
        }
    }
}

}  // namespace
}  // namespace weftloom::coherent
