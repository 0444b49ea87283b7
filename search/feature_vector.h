#pragma once

#include <cstdint>
#include <vector>

namespace weftloom {

// A flattened neighbourhood or pixel: one element per channel value (0..255),
// in the element order the neighbourhood builder defines. Appended to, cleared
// and copied; never reinterpreted as bytes.
using FeatureVector = std::vector<std::uint32_t>;

}  // namespace weftloom
