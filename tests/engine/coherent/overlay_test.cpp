#include "engine/coherent/overlay.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

namespace weftloom::coherent {
namespace {

// Random sets, reads and clears against the array with a std::unordered_map
// laid over it: each round sets up to `keys` distinct keys, enough for the
// table to grow several times from its first capacity, then clears.
TEST(Overlay, ReadsAsTheArrayWithTheSetValuesLaidOver) {
    struct Case {
        std::uint32_t range;  // keys in [0, range)
        std::uint32_t keys;   // distinct keys set per round at most
    };
    const Case cases[] = {{40, 40}, {5000, 200}, {5000, 3000}, {1u << 20, 2500}};
    std::mt19937 random(7);
    for (const Case& c : cases) {
        std::vector<std::uint32_t> base(c.range);
        for (std::uint32_t& v : base) {
            v = static_cast<std::uint32_t>(random());
        }
        Overlay overlay;
        for (std::uint32_t round = 0; round < 4; ++round) {
            std::unordered_map<std::uint32_t, std::uint32_t> expected;
            std::uniform_int_distribution<std::uint32_t> key(0, c.range - 1);
            for (std::uint32_t op = 0; op < 3 * c.keys; ++op) {
                const std::uint32_t k = key(random);
                if (expected.size() < c.keys || expected.count(k) != 0) {
                    const auto value = static_cast<std::uint32_t>(random());
                    overlay.Set(k, value);
                    expected[k] = value;
                }
                const std::uint32_t probe = key(random);
                const auto found = expected.find(probe);
                ASSERT_EQ(overlay.Get(base, probe),
                          found != expected.end() ? found->second : base[probe])
                    << "range " << c.range << ", round " << round << ", op " << op;
            }
            for (const auto& [k, value] : expected) {
                ASSERT_EQ(overlay.Get(base, k), value) << "range " << c.range;
            }
            overlay.Clear();
            for (const auto& [k, value] : expected) {
                ASSERT_EQ(overlay.Get(base, k), base[k]) << "cleared, range " << c.range;
            }
        }
    }
}

}  // namespace
}  // namespace weftloom::coherent
