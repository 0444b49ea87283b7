#include "engine/coherent/piece_forest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/coherent/common.h"

namespace weftloom::coherent {
namespace {

std::uint32_t Below(std::mt19937& random, std::uint32_t count) {
    return static_cast<std::uint32_t>(random() % count);
}

// The pieces of map by a flood fill: pixels within kPieceReach of each other
// (not across the map's edges) whose sources differ by the same offset are
// connected.
std::vector<std::uint32_t> FloodFill(const SourceMap& map) {
    const std::int64_t w = map.width;
    const std::int64_t h = map.height;
    std::vector<std::uint32_t> piece(map.positions.size(), ~0u);
    std::vector<std::int64_t> stack;
    for (std::uint32_t start = 0; start < piece.size(); ++start) {
        if (piece[start] != ~0u) {
            continue;
        }
        piece[start] = start;
        stack.push_back(start);
        while (!stack.empty()) {
            const std::int64_t p = stack.back();
            stack.pop_back();
            const SourcePosition& s = map.positions[static_cast<std::size_t>(p)];
            for (std::int64_t dy = -kPieceReach; dy <= kPieceReach; ++dy) {
                for (std::int64_t dx = -kPieceReach; dx <= kPieceReach; ++dx) {
                    const std::int64_t qx = p % w + dx;
                    const std::int64_t qy = p / w + dy;
                    if (qx < 0 || qx >= w || qy < 0 || qy >= h) {
                        continue;
                    }
                    const std::int64_t q = qy * w + qx;
                    const SourcePosition& n = map.positions[static_cast<std::size_t>(q)];
                    if (n.x == s.x + dx && n.y == s.y + dy &&
                        piece[static_cast<std::size_t>(q)] == ~0u) {
                        piece[static_cast<std::size_t>(q)] = start;
                        stack.push_back(q);
                    }
                }
            }
        }
    }
    return piece;
}

// Each pixel in scan order joined to the neighbours before it that it
// continues (not across the map's edges), as a causal pass joins them; with
// skipJoined, not to those JoinedBefore says are joined already.
void JoinPixelByPixel(const SourceMap& map, PieceForest& forest, bool skipJoined) {
    PieceTree tree(forest);
    const std::vector<Offset> reach = NeighbourOffsets(kPieceReach, true);
    const std::vector<std::uint32_t> joinedBefore = JoinedBefore(reach, kPieceReach, true);
    for (std::uint32_t y = 0; y < map.height; ++y) {
        for (std::uint32_t x = 0; x < map.width; ++x) {
            const SourcePosition& s = map.positions[std::size_t{y} * map.width + x];
            std::uint32_t continued = 0;
            for (std::uint32_t i = 0; i < reach.size(); ++i) {
                const std::int64_t nx = std::int64_t{x} + reach[i].dx;
                const std::int64_t ny = std::int64_t{y} + reach[i].dy;
                if (nx < 0 || ny < 0 || nx >= map.width) {
                    continue;
                }
                const SourcePosition& n =
                    map.positions[static_cast<std::size_t>(ny * map.width + nx)];
                if (std::int64_t{n.x} == std::int64_t{s.x} + reach[i].dx &&
                    std::int64_t{n.y} == std::int64_t{s.y} + reach[i].dy) {
                    continued |= 1u << i;
                }
            }
            for (std::uint32_t i = 0; i < reach.size(); ++i) {
                if ((continued >> i & 1u) != 0 &&
                    !(skipJoined && (joinedBefore[i] & continued) != 0)) {
                    const std::int64_t n =
                        (std::int64_t{y} + reach[i].dy) * map.width + x + reach[i].dx;
                    tree.Join(y * map.width + x, static_cast<std::uint32_t>(n));
                }
            }
        }
    }
}

SourceMap MapOf(std::uint32_t width, std::uint32_t height, auto source) {
    SourceMap map{width, height, {}};
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            map.positions.push_back(source(x, y));
        }
    }
    return map;
}

TEST(PieceForest, JoinsTheSamePiecesAsAFloodFill) {
    std::mt19937 random(3);
    auto randomMap = [&random](std::uint32_t width, std::uint32_t height, std::uint32_t side) {
        return MapOf(width, height, [&](std::uint32_t, std::uint32_t) {
            return SourcePosition{Below(random, side), Below(random, side)};
        });
    };
    // Seams every 8 pixels; the output's edges part pieces that a tiling would join.
    auto shifted = [](std::uint32_t x, std::uint32_t y) {
        return SourcePosition{(x + 3) % 8, (y + 5) % 8};
    };
    const std::pair<std::string, SourceMap> cases[] = {
        {"random 40x33, 3x3 sources", randomMap(40, 33, 3)},
        {"random 17x70, 2x2 sources", randomMap(17, 70, 2)},
        // Shifts alike at any distance, not only next to each other.
        {"random 60x50, four shifts",
         MapOf(60, 50,
               [&](std::uint32_t x, std::uint32_t y) {
                   return SourcePosition{x + 100 * Below(random, 2), y + 100 * Below(random, 2)};
               })},
        {"random 1x1", randomMap(1, 1, 2)},
        {"random 3x2", randomMap(3, 2, 2)},
        {"random 5x4", randomMap(5, 4, 2)},
        {"tiled shifted 8x8 sample, 32x24", MapOf(32, 24, shifted)},
        {"tiled shifted 8x8 sample, 12x20", MapOf(12, 20, shifted)},
        {"one piece, 21x13", MapOf(21, 13,
                                   [](std::uint32_t x, std::uint32_t y) {
                                       return SourcePosition{x, y};
                                   })},
        {"one source, 9x9", MapOf(9, 9,
                                  [](std::uint32_t, std::uint32_t) {
                                      return SourcePosition{4, 4};
                                  })},
        {"diagonal strips, 30x30", MapOf(30, 30,
                                         [](std::uint32_t x, std::uint32_t y) {
                                             return SourcePosition{x + 100 * ((x + y) / 4 % 2), y};
                                         })},
        // A piece whose next row starts three pixels further right: no
        // link down from the first pixel of a row reaches it.
        {"steep strips the other way, 30x30",
         MapOf(30, 30,
               [](std::uint32_t x, std::uint32_t y) {
                   return SourcePosition{x + 100 * ((x + 3 * (40 - y)) / 12 % 2), y};
               })},
    };
    for (const auto& [name, map] : cases) {
        const std::vector<std::uint32_t> flood = FloodFill(map);
        // From the whole map, on one thread and on two; and pixel by pixel,
        // as a causal pass leaves the forest for the pass after it, with
        // every join and with those already made skipped. Skipped, every
        // pixel has the same root: the skipped joins changed nothing.
        std::vector<std::uint32_t> rootsJoiningAll;
        for (const std::uint32_t way : {0u, 1u, 2u, 3u}) {
            PieceForest forest;
            forest.Reset(map.positions.size());
            if (way < 2) {
                forest.JoinFromMap(map, way);
            } else {
                JoinPixelByPixel(map, forest, way == 3);
            }
            PieceTree tree(forest);
            for (std::uint32_t p = 0; way >= 2 && p < flood.size(); ++p) {
                if (way == 2) {
                    rootsJoiningAll.push_back(tree.Root(p));
                } else {
                    ASSERT_EQ(tree.Root(p), rootsJoiningAll[p]) << name << ": pixel " << p;
                }
            }
            std::map<std::uint32_t, std::uint32_t> floodOfRoot;
            std::map<std::uint32_t, std::uint32_t> sizeOfFlood;
            for (std::uint32_t p = 0; p < flood.size(); ++p) {
                ++sizeOfFlood[flood[p]];
                const auto [at, fresh] = floodOfRoot.emplace(tree.Root(p), flood[p]);
                ASSERT_EQ(at->second, flood[p]) << name << ": pixel " << p << " joined wrongly";
            }
            ASSERT_EQ(floodOfRoot.size(), sizeOfFlood.size()) << name << ": a piece split";
            for (const auto& [root, piece] : floodOfRoot) {
                EXPECT_EQ(tree.Size(root), sizeOfFlood[piece]) << name << ", root " << root;
            }
        }
    }
}

// Joins made through a chunk's overlays read as the same joins made in
// place, and leave the forest underneath as it was.
TEST(PieceForest, JoinsThroughOverlaysReadAsJoinsInPlace) {
    std::mt19937 random(5);
    PieceForest inPlace;
    inPlace.Reset(300);
    PieceForest under = inPlace;
    const PieceForest untouched = under;
    Overlay parents;
    Overlay sizes;
    PieceTree direct(inPlace);
    PieceTree overlaid(under, &parents, &sizes);
    for (std::uint32_t op = 0; op < 250; ++op) {
        const std::uint32_t a = Below(random, 300);
        const std::uint32_t b = Below(random, 300);
        direct.Join(a, b);
        overlaid.Join(a, b);
    }
    for (std::uint32_t p = 0; p < 300; ++p) {
        ASSERT_EQ(overlaid.Root(p), direct.Root(p)) << p;
        ASSERT_EQ(overlaid.Size(overlaid.Root(p)), direct.Size(direct.Root(p))) << p;
    }
    EXPECT_EQ(under.parent, untouched.parent);
    EXPECT_EQ(under.size, untouched.size);
}

// A pixel that leaves its piece leaves the rest of it whole and counted,
// whichever node it was in the tree (the root, a link, a leaf), and stands
// alone; once it has left, leaving again changes nothing.
TEST(PieceForest, APixelThatLeavesKeepsTheRestOfItsPieceCounted) {
    for (std::uint32_t leaving = 0; leaving < 6; ++leaving) {
        PieceForest forest;
        forest.Reset(6);
        PieceTree tree(forest);
        for (std::uint32_t p = 0; p + 1 < 6; ++p) {
            tree.Join(p, p + 1);
        }
        ASSERT_EQ(tree.Size(tree.Root(leaving)), 6u);
        const std::uint32_t other = leaving == 0 ? 1 : 0;
        for (int twice = 0; twice < 2; ++twice) {
            tree.Leave(leaving);
            EXPECT_EQ(tree.Size(tree.Root(leaving)), 1u) << "pixel " << leaving;
            EXPECT_NE(tree.Root(leaving), tree.Root(other));
            EXPECT_EQ(tree.Size(tree.Root(other)), 5u) << "pixel " << leaving;
            for (std::uint32_t p = 0; p < 6; ++p) {
                if (p != leaving) {
                    EXPECT_EQ(tree.Root(p), tree.Root(other)) << "pixel " << leaving << ", " << p;
                }
            }
        }
        // It joins a piece again as one pixel.
        tree.Join(leaving, other);
        EXPECT_EQ(tree.Size(tree.Root(leaving)), 6u);
    }
}

}  // namespace
}  // namespace weftloom::coherent
