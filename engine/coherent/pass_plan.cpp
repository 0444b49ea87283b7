#include "engine/coherent/pass_plan.h"

#include <algorithm>

#include "engine/coherent/common.h"

namespace weftloom::coherent {

PassPlan PlanPass(const std::vector<Span>& spans, std::uint32_t width, std::uint32_t height,
                  std::uint32_t reach) {
    PassPlan plan;
    for (std::uint32_t i = 0; i < spans.size(); ++i) {
        for (std::uint32_t first = 0; first < spans[i].columns; first += kChunkPixels) {
            const std::uint32_t count = std::min(kChunkPixels, spans[i].columns - first);
            plan.chunks.push_back({i, first, count, plan.pixels});
            plan.pixels += count;
        }
    }
    // Per output pixel, the last step that wrote it and the last that read it
    // (0: none yet).
    const std::size_t area = std::size_t{width} * height;
    std::vector<std::uint32_t> lastWrite(area, 0);
    std::vector<std::uint32_t> lastRead(area, 0);
    std::vector<std::uint32_t> stepOf(plan.chunks.size());
    const std::uint32_t readRows = std::min(2 * reach + 1, height);
    std::uint32_t stepCount = 0;
    std::vector<std::uint32_t> columns(width);  // the read columns, left to right
    for (std::uint32_t c = 0; c < plan.chunks.size(); ++c) {
        const PassPlan::Chunk& chunk = plan.chunks[c];
        const Span& span = spans[chunk.span];
        const std::uint32_t x0 = (span.firstColumn + chunk.first) % width;
        const std::uint32_t readColumns = std::min(chunk.count + 2 * reach, width);
        const std::uint32_t readX0 =
            readColumns == width ? 0 : WrapNear(std::int64_t{x0} - reach, width);
        const std::uint32_t readY0 =
            readRows == height ? 0 : WrapNear(std::int64_t{span.y} - reach, height);
        for (std::uint32_t i = 0; i < readColumns; ++i) {
            columns[i] = (readX0 + i) % width;
        }
        const std::size_t writeRow = std::size_t{span.y} * width;
        std::uint32_t step = 0;
        for (std::uint32_t r = 0; r < readRows; ++r) {
            const std::uint32_t* row =
                lastWrite.data() + std::size_t{(readY0 + r) % height} * width;
            for (std::uint32_t i = 0; i < readColumns; ++i) {
                step = std::max(step, row[columns[i]]);
            }
        }
        for (std::uint32_t i = 0; i < chunk.count; ++i) {
            const std::size_t p = writeRow + (x0 + i) % width;
            step = std::max({step, lastWrite[p], lastRead[p]});
        }
        ++step;
        for (std::uint32_t r = 0; r < readRows; ++r) {
            std::uint32_t* row = lastRead.data() + std::size_t{(readY0 + r) % height} * width;
            for (std::uint32_t i = 0; i < readColumns; ++i) {
                row[columns[i]] = std::max(row[columns[i]], step);
            }
        }
        for (std::uint32_t i = 0; i < chunk.count; ++i) {
            lastWrite[writeRow + (x0 + i) % width] = step;
        }
        stepOf[c] = step - 1;
        stepCount = std::max(stepCount, step);
    }
    plan.stepStart.assign(stepCount + 1, 0);
    for (const std::uint32_t step : stepOf) {
        ++plan.stepStart[step + 1];
    }
    for (std::uint32_t s = 0; s < stepCount; ++s) {
        plan.widestStep = std::max(plan.widestStep, plan.stepStart[s + 1]);
        plan.stepStart[s + 1] += plan.stepStart[s];
    }
    plan.byStep.resize(plan.chunks.size());
    std::vector<std::uint32_t> filled(plan.stepStart.begin(), plan.stepStart.end() - 1);
    for (std::uint32_t c = 0; c < plan.chunks.size(); ++c) {
        plan.byStep[filled[stepOf[c]]++] = c;
    }
    return plan;
}

PassPlan PlanPrefix(const PassPlan& plan, std::uint32_t spans) {
    PassPlan prefix;
    for (const PassPlan::Chunk& chunk : plan.chunks) {
        if (chunk.span >= spans) {
            break;
        }
        prefix.chunks.push_back(chunk);
        prefix.pixels += chunk.count;
    }
    const auto kept = static_cast<std::uint32_t>(prefix.chunks.size());
    prefix.stepStart.push_back(0);
    for (std::uint32_t step = 0; step + 1 < plan.stepStart.size(); ++step) {
        std::uint32_t chunks = 0;
        for (std::uint32_t e = plan.stepStart[step]; e < plan.stepStart[step + 1]; ++e) {
            if (plan.byStep[e] < kept) {
                prefix.byStep.push_back(plan.byStep[e]);
                ++chunks;
            }
        }
        if (chunks == 0) {
            break;  // the steps after hold later chunks only
        }
        prefix.stepStart.push_back(static_cast<std::uint32_t>(prefix.byStep.size()));
        prefix.widestStep = std::max(prefix.widestStep, chunks);
    }
    return prefix;
}

std::vector<Span> WholeLevel(std::uint32_t width, std::uint32_t height) {
    // Each row starts one chunk right of the row above: a row's first chunk
    // then reads only what the row above finished early, and rows go on a
    // few chunks apart, at once. Rows that all started at the left edge
    // would wait each for the whole row above, whose last pixels sit next to
    // their first.
    std::vector<Span> spans;
    for (std::uint32_t y = 0; y < height; ++y) {
        spans.push_back(
            {y, static_cast<std::uint32_t>(std::uint64_t{y} * kChunkPixels % width), width});
    }
    return spans;
}

std::vector<Span> EdgeBand(std::uint32_t width, std::uint32_t height, std::uint32_t side) {
    // The last rows first: the band where the first rows were synthesised
    // before the last ones existed.
    const std::uint32_t rows = std::min(side, height / 2);
    const std::uint32_t columns = std::min(side, width / 2);
    std::vector<Span> spans;
    for (std::uint32_t i = 0; i < 2 * rows; ++i) {
        spans.push_back({(height - rows + i) % height,
                         static_cast<std::uint32_t>(std::uint64_t{i} * kChunkPixels % width),
                         width});
    }
    if (columns > 0) {
        // The rows in between, from their upper and lower halves in turn: the
        // two halves are far apart and their spans run at once.
        const std::uint32_t between = height - 2 * std::min(rows, height / 2);
        const std::uint32_t upper = (between + 1) / 2;
        for (std::uint32_t i = 0; i < upper; ++i) {
            spans.push_back({rows + i, width - columns, 2 * columns});
            if (upper + i < between) {
                spans.push_back({rows + upper + i, width - columns, 2 * columns});
            }
        }
    }
    return spans;
}

}  // namespace weftloom::coherent
