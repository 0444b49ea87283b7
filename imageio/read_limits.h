#pragma once

#include <cstdint>

namespace weftloom {

// The largest image a reader accepts by default: the decoded plane at 4 bytes
// per pixel must fit in 1 GiB. A file's header is refused before any
// allocation when its width x height exceeds this. Callers that must bound
// memory more tightly (the fuzz targets) lower a reader's pixelLimit.
inline constexpr std::uint64_t kMaxReadPixels = (std::uint64_t{1} << 30) / 4;

}  // namespace weftloom
