#include "engine/accuracy.h"

namespace weftloom {

std::int32_t NeighbourhoodSideFor(std::int32_t level, std::int32_t accuracyIndex) {
    static constexpr std::int32_t kSides[3][3] = {{9, 7, 5}, {7, 5, 3}, {5, 3, 1}};
    if (level < 0 || level > 2 || accuracyIndex < 0 || accuracyIndex > 2) {
        return 1;
    }
    return kSides[level][accuracyIndex];
}

}  // namespace weftloom
