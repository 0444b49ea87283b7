#include "engine/coherent/sample_windows.h"

#include <atomic>

#include "engine/neighbourhood.h"
#include "search/worker_pool.h"

namespace weftloom::coherent {

namespace {

// Sample positions whose windows one chunk of the table gathers.
constexpr std::uint32_t kGatherChunk = 2048;

}  // namespace

void RowBlock::Reserve(std::size_t bytes) {
    if (bytes <= bytes_) {
        return;
    }
    Release();
    data_ = static_cast<std::uint8_t*>(AllocateRows(bytes));
    bytes_ = bytes;
}

void RowBlock::Release() {
    if (data_ != nullptr) {
        ReleaseRows(data_, bytes_);
        data_ = nullptr;
        bytes_ = 0;
    }
}

bool SampleWindows::Gather(const ImagePyramid& pyramid, std::uint32_t level, const SampleGrid& grid,
                           std::int32_t side, std::uint32_t levels, bool fourChannels,
                           std::uint32_t helpers, const StopCheck& stop) {
    if (side == side_ && levels == levels_) {
        return true;
    }
    side_ = 0;
    const NeighbourhoodGatherer windows(
        pyramid, level, side, levels, fourChannels, true,
        {.causal = false, .plainParents = true, .mirror = true, .causalFirst = true});
    bytes_ = windows.ByteCount();
    stride_ = RowStrideFor(bytes_);
    const std::uint32_t count = grid.Count();
    block_.Reserve(std::size_t{count} * stride_);
    std::atomic<bool> failed{false};
    const std::uint32_t chunks = (count + kGatherChunk - 1) / kGatherChunk;
    WorkerPool::Shared().Run(chunks, helpers, [&](std::uint32_t chunk) {
        if (failed.load(std::memory_order_relaxed) || stop()) {
            failed.store(true, std::memory_order_relaxed);
            return;
        }
        const std::uint32_t end = std::min(count, (chunk + 1) * kGatherChunk);
        for (std::uint32_t v = chunk * kGatherChunk; v < end; ++v) {
            std::uint8_t* row = block_.Data() + std::size_t{v} * stride_;
            std::fill(row + bytes_, row + stride_, std::uint8_t{0});
            const SourcePosition p = grid.PositionOf(v);
            if (!windows.Gather(p.x, p.y, row)) {
                failed.store(true, std::memory_order_relaxed);
                return;
            }
        }
    });
    if (failed.load()) {
        return false;
    }
    side_ = side;
    levels_ = levels;
    return true;
}

}  // namespace weftloom::coherent
