#pragma once

#include <cstdint>

namespace weftloom {

// The user's accuracy choice for one pyramid level, "High" first as the lists
// show them. Each maps to the window side that level is synthesised with.
enum class Accuracy : std::int32_t { High = 0, Medium = 1, Low = 2 };

// Window side for pyramid level 0, 1 or 2 ("Level 1" to "Level 3" in the user's
// words) at the given accuracy index: 9/7/5, 7/5/3 and 5/3 for High, Medium and
// Low. Any other index (none selected, or Low for level 2, which is not offered)
// and any other level give 1.
std::int32_t NeighbourhoodSideFor(std::int32_t level, std::int32_t accuracyIndex);

}  // namespace weftloom
