#include "engine/coherent_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

using testing::HashImage;
using testing::PatternImage;

SynthesisSettings CoherentSettings() {
    SynthesisSettings settings;
    settings.searchMethod = SearchMethod::Coherent;
    return settings;
}

// Runs a coherent synthesis; the job is kept for its source map.
struct CoherentRun {
    TextureSynthesiser job;
    bool done = false;

    CoherentRun(const Image& sample, std::uint32_t width, std::uint32_t height,
                const SynthesisSettings& settings = CoherentSettings()) {
        ApplySettings(settings, job);
        done = job.Synthesise(sample, width, height);
    }
};

// An 8 x 8 tile without symmetry, every pixel a different colour, repeated
// over a sample: any output pixel that does not continue the pattern shows.
Image PeriodicImage(std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerPixel) {
    Image image;
    image.Allocate(width, height, bytesPerPixel);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t tx = x % 8;
            const std::uint32_t ty = y % 8;
            std::uint8_t* p = image.PixelAt(x, y);
            p[0] = static_cast<std::uint8_t>(tx * 31);
            p[1] = static_cast<std::uint8_t>(ty * 29 + (tx == ty ? 40 : 0));
            p[2] = static_cast<std::uint8_t>((tx * 3 + ty * 5) % 8 * 30);
            if (bytesPerPixel == 4) {
                p[3] = static_cast<std::uint8_t>(255 - tx * ty);
            }
        }
    }
    return image;
}

// Whether image is the 8 x 8 tile of PeriodicImage at some shift.
bool ContinuesThePattern(const Image& image, const Image& tile) {
    for (std::uint32_t sy = 0; sy < 8; ++sy) {
        for (std::uint32_t sx = 0; sx < 8; ++sx) {
            bool all = true;
            for (std::uint32_t y = 0; y < image.height && all; ++y) {
                for (std::uint32_t x = 0; x < image.width && all; ++x) {
                    const std::uint8_t* a = image.PixelAt(x, y);
                    const std::uint8_t* b = tile.PixelAt((x + sx) % 8, (y + sy) % 8);
                    all = std::equal(a, a + image.bytesPerPixel, b);
                }
            }
            if (all) {
                return true;
            }
        }
    }
    return false;
}

// A pass runs chunks of several rows at once; the wide output has many rows
// going on in each step.
TEST(CoherentSearch, SameBytesForAnyThreadCountAndOnEveryRun) {
    const Image sample = PatternImage(40, 36, 3, 1);
    for (const auto& [width, height] : {std::pair{72u, 56u}, std::pair{400u, 24u}}) {
        std::string first;
        for (const std::uint32_t threads : {1u, 2u, 3u, 0u, 1u}) {
            SynthesisSettings settings = CoherentSettings();
            settings.threadCount = threads;
            CoherentRun run(sample, width, height, settings);
            ASSERT_TRUE(run.done);
            const std::string hash = HashImage(*run.job.result);
            if (first.empty()) {
                first = hash;
            }
            EXPECT_EQ(hash, first) << width << " x " << height << ", " << threads << " threads";
        }
    }
}

TEST(CoherentSearch, SeedAndSettingsChangeTheOutput) {
    const Image sample = PatternImage(40, 36, 3, 1);
    const std::string base = HashImage(*CoherentRun(sample, 64, 64).job.result);
    SynthesisSettings seeded = CoherentSettings();
    seeded.randomSeed = 2;
    EXPECT_NE(HashImage(*CoherentRun(sample, 64, 64, seeded).job.result), base);
    SynthesisSettings exact = CoherentSettings();
    exact.searchMethod = SearchMethod::Exact;
    const CoherentRun exactRun(sample, 64, 64, exact);
    EXPECT_NE(HashImage(*exactRun.job.result), base);
    EXPECT_TRUE(exactRun.job.sourceMap.positions.empty()) << "an exact run keeps no source map";
}

// Golden outputs of small coherent runs. A changed hash is a changed
// behaviour: find the change that made it and say why in its commit; never
// paste the new value to make the test pass.
TEST(CoherentSearch, MatchesTheRecordedOutput) {
    struct Case {
        std::uint32_t bytesPerPixel;
        DistanceMetric metric;
        const char* hash;
    };
    const Case cases[] = {
        {3, DistanceMetric::L2, "285839be415c57d8"},
        {4, DistanceMetric::L1, "69089e9f86c806b7"},
        {3, DistanceMetric::Linf, "87cb42ba116969e7"},
    };
    for (const Case& c : cases) {
        SynthesisSettings settings = CoherentSettings();
        settings.metric = c.metric;
        CoherentRun run(PatternImage(48, 40, c.bytesPerPixel, 2), 80, 64, settings);
        ASSERT_TRUE(run.done);
        EXPECT_EQ(HashImage(*run.job.result), c.hash)
            << c.bytesPerPixel << " bytes, metric " << static_cast<int>(c.metric);
    }
}

TEST(CoherentSearch, ReproducesAPerfectTileWithoutAWrongPixel) {
    struct Case {
        std::uint32_t sampleSide, width, height, bytesPerPixel;
        std::uint32_t seed;
    };
    // Output sides are multiples of the period, so the tiled output can
    // continue the pattern across its wrap-around edges too.
    const Case cases[] = {
        {32, 64, 64, 3, 1}, {40, 96, 48, 3, 7}, {32, 48, 80, 4, 3}, {48, 128, 128, 3, 11}};
    for (const Case& c : cases) {
        const Image sample = PeriodicImage(c.sampleSide, c.sampleSide, c.bytesPerPixel);
        SynthesisSettings settings = CoherentSettings();
        settings.randomSeed = c.seed;
        CoherentRun run(sample, c.width, c.height, settings);
        ASSERT_TRUE(run.done);
        EXPECT_TRUE(ContinuesThePattern(*run.job.result, sample))
            << c.sampleSide << " -> " << c.width << "x" << c.height << ", " << c.bytesPerPixel
            << " bytes, seed " << c.seed;
    }
}

TEST(CoherentSearch, EveryPixelIsTheSamplePixelAtItsSource) {
    for (const std::uint32_t bpp : {3u, 4u}) {
        const Image sample = PatternImage(37, 45, bpp, 3);
        CoherentRun run(sample, 70, 52);
        ASSERT_TRUE(run.done);
        const SourceMap& map = run.job.sourceMap;
        ASSERT_EQ(map.width, 70u);
        ASSERT_EQ(map.height, 52u);
        ASSERT_EQ(map.positions.size(), std::size_t{70} * 52);
        std::uint32_t wrong = 0;
        for (std::uint32_t y = 0; y < map.height; ++y) {
            for (std::uint32_t x = 0; x < map.width; ++x) {
                const SourcePosition& s = map.At(x, y);
                ASSERT_LT(s.x, sample.width);
                ASSERT_LT(s.y, sample.height);
                const std::uint8_t* out = run.job.result->PixelAt(x, y);
                wrong += std::equal(out, out + bpp, sample.PixelAt(s.x, s.y)) ? 0 : 1;
            }
        }
        EXPECT_EQ(wrong, 0u) << bpp << " bytes per pixel";
    }
}

TEST(CoherentSearch, UsesMuchOfTheSampleAndCopiesNoLargePiece) {
    // A sample whose halves differ: a search that locks onto one part shows
    // here as positions never used.
    const Image sample = PatternImage(48, 48, 3, 5);
    SynthesisSettings settings = CoherentSettings();
    settings.pieceLimitPercent = 1;  // 23 of the sample's 2304 positions
    CoherentRun run(sample, 144, 144, settings);
    ASSERT_TRUE(run.done);
    std::vector<std::uint32_t> uses(std::size_t{48} * 48, 0);
    for (const SourcePosition& s : run.job.sourceMap.positions) {
        ++uses[std::size_t{s.y} * 48 + s.x];
    }
    std::size_t used = 0;
    for (const std::uint32_t u : uses) {
        used += u > 0 ? 1 : 0;
    }
    // Without the penalty on used positions about 85 % are used.
    EXPECT_GT(used, uses.size() * 95 / 100);
    // The largest piece: output pixels joined where side-by-side pixels have
    // side-by-side sources (not across the output's edges, where a piece is
    // counted as two). Without the limit a piece reaches hundreds of pixels;
    // the limit keeps it to 23. A pixel that leaves its piece in a correction
    // must not take the pixels joined through it out of the count (they
    // came to 151 here).
    const SourceMap& map = run.job.sourceMap;
    const std::uint32_t w = map.width;
    const std::uint32_t h = map.height;
    std::vector<std::uint32_t> piece(std::size_t{w} * h);
    std::iota(piece.begin(), piece.end(), 0u);
    const auto root = [&piece](std::uint32_t i) {
        while (piece[i] != i) {
            i = piece[i] = piece[piece[i]];
        }
        return i;
    };
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const SourcePosition& s = map.At(x, y);
            if (x + 1 < w && map.At(x + 1, y).x == s.x + 1 && map.At(x + 1, y).y == s.y) {
                piece[root(y * w + x)] = root(y * w + x + 1);
            }
            if (y + 1 < h && map.At(x, y + 1).x == s.x && map.At(x, y + 1).y == s.y + 1) {
                piece[root(y * w + x)] = root((y + 1) * w + x);
            }
        }
    }
    std::vector<std::uint32_t> sizes(piece.size(), 0);
    for (std::uint32_t i = 0; i < piece.size(); ++i) {
        ++sizes[root(i)];
    }
    EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), 23u);
}

struct Reports {
    std::vector<ProgressInfo> all;
    std::vector<std::int32_t> previewRows;
    TextureSynthesiser* abortJob = nullptr;
    std::size_t abortAfter = 0;
};

void Keep(const ProgressInfo* info) {
    auto* reports = static_cast<Reports*>(info->context);
    reports->all.push_back(*info);
    if (info->rowPixels != nullptr) {
        reports->previewRows.push_back(info->row);
    }
    if (reports->abortJob != nullptr && reports->all.size() == reports->abortAfter) {
        reports->abortJob->Abort();
    }
}

TEST(CoherentSearch, ReportsEveryRowAndCountsUpToTheTotal) {
    TextureSynthesiser job;
    ApplySettings(CoherentSettings(), job);
    Reports reports;
    job.progressCallback = &Keep;
    job.callbackContext = &reports;
    ASSERT_TRUE(job.Synthesise(PatternImage(32, 32, 3), 64, 48));

    std::int32_t lastOverall = 0;
    for (const ProgressInfo& info : reports.all) {
        if (info.overallTotal == 0) {
            continue;  // set-up and similar-set reports count nothing
        }
        EXPECT_GE(info.overallDone, lastOverall) << info.status;
        lastOverall = std::max(lastOverall, info.overallDone);
        EXPECT_LE(info.stepDone, info.stepTotal);
    }
    EXPECT_EQ(lastOverall, reports.all.back().overallTotal);
    EXPECT_EQ(reports.all.back().overallTotal, 64 * 48 + 32 * 24 + 16 * 12 + 8 * 6);
    // Every row of the finest level is previewed at least once per pass.
    std::vector<int> seen(48, 0);
    for (const ProgressInfo& info : reports.all) {
        if (info.rowPixels != nullptr && info.levelWidth == 64) {
            ++seen[static_cast<std::size_t>(info.row)];
        }
    }
    for (std::size_t row = 0; row < seen.size(); ++row) {
        EXPECT_GE(seen[row], 2) << "row " << row;
    }
}

TEST(CoherentSearch, AbortStopsTheRunWithinItsRows) {
    for (const std::size_t after : {std::size_t{1}, std::size_t{10}, std::size_t{60}}) {
        TextureSynthesiser job;
        ApplySettings(CoherentSettings(), job);
        Reports reports;
        reports.abortJob = &job;
        reports.abortAfter = after;
        job.progressCallback = &Keep;
        job.callbackContext = &reports;
        EXPECT_FALSE(job.Synthesise(PatternImage(32, 32, 3), 64, 64)) << after;
        EXPECT_LE(reports.all.size(), after + 1) << after;
    }
}

TEST(CoherentSearch, TinySamplesAndOutputsStillGiveAWholeResult) {
    struct Case {
        std::uint32_t sampleWidth, sampleHeight, width, height;
    };
    const Case cases[] = {{9, 9, 1, 1}, {10, 12, 3, 70}, {16, 9, 64, 2}, {64, 64, 5, 5}};
    for (const Case& c : cases) {
        CoherentRun run(PatternImage(c.sampleWidth, c.sampleHeight, 3), c.width, c.height);
        ASSERT_TRUE(run.done) << c.sampleWidth << "x" << c.sampleHeight;
        EXPECT_EQ(run.job.result->width, c.width);
        EXPECT_EQ(run.job.result->height, c.height);
        EXPECT_EQ(run.job.sourceMap.positions.size(), std::size_t{c.width} * c.height);
    }
}

// The sizes of the pieces (4-connected, across the wrap-around edges) in
// which the pixels of exactly `colour` lie in image.
std::vector<std::uint32_t> PiecesOfColour(const Image& image, const std::uint8_t* colour) {
    const std::uint32_t w = image.width;
    const std::uint32_t h = image.height;
    const auto is = [&](std::uint32_t x, std::uint32_t y) {
        return std::equal(colour, colour + 3, image.PixelAt(x, y));
    };
    std::vector<bool> seen(std::size_t{w} * h, false);
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t start = 0; start < w * h; ++start) {
        if (seen[start] || !is(start % w, start / w)) {
            continue;
        }
        std::vector<std::uint32_t> stack{start};
        seen[start] = true;
        std::uint32_t size = 0;
        while (!stack.empty()) {
            const std::uint32_t p = stack.back();
            stack.pop_back();
            ++size;
            const std::uint32_t x = p % w;
            const std::uint32_t y = p / w;
            for (const std::uint32_t q : {y * w + (x + 1) % w, y * w + (x + w - 1) % w,
                                          (y + 1) % h * w + x, (y + h - 1) % h * w + x}) {
                if (!seen[q] && is(q % w, q / w)) {
                    seen[q] = true;
                    stack.push_back(q);
                }
            }
        }
        sizes.push_back(size);
    }
    return sizes;
}

// A sample of a few large flat shapes on a textured ground: the shapes come
// out whole, not cut into specks along piece edges.
TEST(CoherentSearch, KeepsLargeShapesWhole) {
    Image sample = PatternImage(64, 64, 3, 4);
    const std::uint8_t colours[3][3] = {{230, 40, 40}, {40, 40, 230}, {40, 200, 60}};
    const std::uint32_t boxes[3][4] = {{6, 6, 20, 16}, {36, 10, 18, 22}, {14, 38, 26, 18}};
    for (int k = 0; k < 3; ++k) {
        const auto [bx, by, bw, bh] = boxes[k];
        for (std::uint32_t y = by; y < by + bh; ++y) {
            for (std::uint32_t x = bx; x < bx + bw; ++x) {
                std::copy_n(colours[k], 3, sample.PixelAt(x, y));
            }
        }
    }
    // Over two seeds, at most a tenth of the shapes' pixels lie in pieces of
    // fewer than 100 pixels. Spreading uses as strongly on the finest level as
    // on the coarse ones put a sixth there; a strong spread, a quarter.
    std::uint32_t pixels = 0;
    std::uint32_t inSmall = 0;
    for (const std::uint32_t seed : {1u, 2u}) {
        SynthesisSettings settings = CoherentSettings();
        settings.randomSeed = seed;
        CoherentRun run(sample, 128, 128, settings);
        ASSERT_TRUE(run.done);
        for (int k = 0; k < 3; ++k) {
            const std::vector<std::uint32_t> sizes = PiecesOfColour(*run.job.result, colours[k]);
            ASSERT_FALSE(sizes.empty()) << "seed " << seed << ": shape " << k << " is missing";
            for (const std::uint32_t size : sizes) {
                pixels += size;
                inSmall += size < 100 ? size : 0;
            }
        }
    }
    EXPECT_LE(inSmall * 10, pixels) << inSmall << " of " << pixels << " pixels in small pieces";
}

TEST(CoherentSearch, SpreadsARareSpotOverTheRowsNotIntoTheWrapAround) {
    // A textured sample with one bright spot, a hundredth of it: the spot
    // keeps at least half its share, and its copies do not gather in the
    // rows where the output wraps.
    for (const std::uint32_t seed : {1u, 2u, 3u}) {
        Image sample = PatternImage(48, 48, 3, 4);
        for (std::uint32_t y = 20; y < 25; ++y) {
            for (std::uint32_t x = 20; x < 25; ++x) {
                std::fill_n(sample.PixelAt(x, y), 3, std::uint8_t{255});
            }
        }
        SynthesisSettings settings = CoherentSettings();
        settings.randomSeed = seed;
        CoherentRun run(sample, 144, 144, settings);
        ASSERT_TRUE(run.done);
        std::uint32_t middle = 0;
        std::uint32_t outer = 0;
        for (std::uint32_t y = 0; y < 144; ++y) {
            for (std::uint32_t x = 0; x < 144; ++x) {
                const std::uint8_t* p = run.job.result->PixelAt(x, y);
                if (p[0] == 255 && p[1] == 255 && p[2] == 255) {
                    ++(y >= 36 && y < 108 ? middle : outer);
                }
            }
        }
        // 25 of the sample's 2304 pixels, so some 225 of the output's.
        EXPECT_GE(middle + outer, 112u) << "seed " << seed;
        EXPECT_GE(middle * 2, outer) << "seed " << seed;
    }
}

}  // namespace
}  // namespace weftloom
