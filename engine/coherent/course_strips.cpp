#include "engine/coherent/course_strips.h"

#include <algorithm>
#include <limits>

#include "engine/coherent/common.h"

namespace weftloom::coherent {

namespace {

constexpr std::int64_t kUnreachable = std::numeric_limits<std::int64_t>::max() / 4;
// What a pixel that loses its source costs, per channel, in the seam's units
// (squared channel differences): measured on the brick and wood patterns,
// lower lets the strips wander from the search's pieces and make larger
// ones, higher leaves the stubs.
constexpr std::int64_t kLostSourcePerChannel = 333;
// A column offers the path its few commonest shifts in the course; a course
// longer than kMostCourse lines is left as the search laid it. Both bound
// what a course holds.
constexpr std::size_t kMostShifts = 8;
constexpr std::uint32_t kMostCourse = 256;

// One course's lines and where along them each source lies.
class Strips {
  public:
    Strips(const Image& sample, SourceMap& map, Image& output, CourseAxis axis,
           const std::vector<std::uint32_t>& lines, std::uint64_t pieceLimit)
        : sample_(sample),
          map_(map),
          output_(output),
          rows_(axis == CourseAxis::Rows),
          lines_(lines),
          along_(rows_ ? map.width : map.height),
          sampleAlong_(rows_ ? sample.width : sample.height),
          channels_(std::min(sample.bytesPerPixel, 3u)),
          pieceLimit_(pieceLimit),
          stamp_(map.positions.size(), 0) {}

    // Lays the strips of output lines [first, end).
    void Lay(std::uint32_t first, std::uint32_t end) {
        first_ = first;
        end_ = end;
        CollectShifts();
        if (!Path()) {
            return;
        }
        kept_.clear();
        for (std::uint32_t line = first_; line < end_; ++line) {
            for (std::uint32_t j = 0; j < along_; ++j) {
                kept_.push_back(map_.positions[Pixel(line, j)]);
            }
        }
        bool changed = false;
        for (std::uint32_t j = 0; j < along_; ++j) {
            for (std::uint32_t line = first_; line < end_; ++line) {
                if (ShiftAt(line, j) != chosen_[j]) {
                    Take(line, j, chosen_[j]);
                    changed = true;
                }
            }
        }
        if (changed && !PiecesWithinLimit()) {
            std::size_t k = 0;
            for (std::uint32_t line = first_; line < end_; ++line) {
                for (std::uint32_t j = 0; j < along_; ++j) {
                    const SourcePosition s = kept_[k++];
                    Place(Pixel(line, j), s);
                }
            }
        }
    }

  private:
    std::uint32_t Width() const { return map_.width; }
    std::size_t Pixel(std::uint32_t line, std::uint32_t j) const {
        return rows_ ? std::size_t{line} * Width() + j : std::size_t{j} * Width() + line;
    }
    // Where along its line a pixel's source lies, less the pixel's place.
    std::int64_t ShiftAt(std::uint32_t line, std::uint32_t j) const {
        const SourcePosition& s = map_.positions[Pixel(line, j)];
        return std::int64_t{rows_ ? s.x : s.y} - j;
    }
    bool Copies(std::uint32_t j, std::int64_t shift) const {
        const std::int64_t at = std::int64_t{j} + shift;
        return at >= 0 && at < sampleAlong_;
    }
    const std::uint8_t* SampleAt(std::uint32_t line, std::uint32_t j, std::int64_t shift) const {
        const auto at = static_cast<std::uint32_t>(std::int64_t{j} + shift);
        return rows_ ? sample_.PixelAt(at, lines_[line]) : sample_.PixelAt(lines_[line], at);
    }
    void Place(std::size_t pixel, const SourcePosition& s) {
        map_.positions[pixel] = s;
        const auto x = static_cast<std::uint32_t>(pixel % Width());
        const auto y = static_cast<std::uint32_t>(pixel / Width());
        std::copy_n(sample_.PixelAt(s.x, s.y), output_.bytesPerPixel, output_.PixelAt(x, y));
    }
    void Take(std::uint32_t line, std::uint32_t j, std::int64_t shift) {
        const auto at = static_cast<std::uint32_t>(std::int64_t{j} + shift);
        Place(Pixel(line, j),
              rows_ ? SourcePosition{at, lines_[line]} : SourcePosition{lines_[line], at});
    }

    // Each column's shifts in the course, once each, with how many of its
    // pixels have them.
    void CollectShifts() {
        start_.assign(1, 0);
        shifts_.clear();
        counts_.clear();
        for (std::uint32_t j = 0; j < along_; ++j) {
            const std::size_t from = shifts_.size();
            for (std::uint32_t line = first_; line < end_; ++line) {
                const std::int64_t shift = ShiftAt(line, j);
                const auto known = std::find(shifts_.begin() + static_cast<std::ptrdiff_t>(from),
                                             shifts_.end(), shift);
                if (known == shifts_.end()) {
                    shifts_.push_back(shift);
                    counts_.push_back(1);
                } else {
                    ++counts_[static_cast<std::size_t>(known - shifts_.begin())];
                }
            }
            // The commonest few, the first seen first among equals.
            ranked_.clear();
            for (std::size_t k = from; k < shifts_.size(); ++k) {
                ranked_.emplace_back(counts_[k], shifts_[k]);
            }
            std::stable_sort(ranked_.begin(), ranked_.end(),
                             [](const auto& a, const auto& b) { return a.first > b.first; });
            ranked_.resize(std::min(ranked_.size(), kMostShifts));
            shifts_.resize(from);
            counts_.resize(from);
            for (const auto& [count, shift] : ranked_) {
                shifts_.push_back(shift);
                counts_.push_back(count);
            }
            start_.push_back(static_cast<std::uint32_t>(shifts_.size()));
        }
    }

    // The seam where column j takes shift a and column j + 1 (round the
    // edge) shift b: how the two copies differ at both columns, over the
    // course, the parts one of them cannot copy weighed up from the rest.
    std::int64_t Seam(std::uint32_t j, std::int64_t a, std::int64_t b) const {
        if (a == b) {
            return 0;
        }
        const std::uint32_t next = j + 1 == along_ ? 0 : j + 1;
        const bool here = Copies(j, b);
        const bool there = Copies(next, a);
        const std::int64_t lines = end_ - first_;
        if (!here && !there) {
            return lines * channels_ * 2 * 128 * 128;
        }
        std::int64_t cost = 0;
        for (std::uint32_t line = first_; line < end_; ++line) {
            if (here) {
                cost += SquaredColourGap(SampleAt(line, j, a), SampleAt(line, j, b), channels_);
            }
            if (there) {
                cost +=
                    SquaredColourGap(SampleAt(line, next, a), SampleAt(line, next, b), channels_);
            }
        }
        return here && there ? cost : 2 * cost;
    }
    std::int64_t Lost(std::size_t k) const {
        return (std::int64_t{end_ - first_} - counts_[k]) * kLostSourcePerChannel * channels_;
    }

    // The cheapest strips round the course, into chosen_; false when none
    // closes.
    bool Path() {
        // It starts at the column whose pixels agree most, with their shift.
        std::uint32_t origin = 0;
        std::size_t originShift = 0;
        for (std::uint32_t j = 0; j < along_; ++j) {
            for (std::size_t k = start_[j]; k < start_[j + 1]; ++k) {
                if (counts_[k] > counts_[originShift]) {
                    origin = j;
                    originShift = k;
                }
            }
        }
        cost_.assign(shifts_.size(), kUnreachable);
        from_.assign(shifts_.size(), 0);
        cost_[originShift] = Lost(originShift);
        for (std::uint32_t step = 1; step < along_; ++step) {
            const std::uint32_t j = (origin + step) % along_;
            const std::uint32_t before = (j + along_ - 1) % along_;
            for (std::size_t k = start_[j]; k < start_[j + 1]; ++k) {
                for (std::size_t p = start_[before]; p < start_[before + 1]; ++p) {
                    if (cost_[p] >= kUnreachable) {
                        continue;
                    }
                    const std::int64_t total = cost_[p] + Seam(before, shifts_[p], shifts_[k]);
                    if (total < cost_[k]) {
                        cost_[k] = total;
                        from_[k] = static_cast<std::uint32_t>(p);
                    }
                }
                cost_[k] = cost_[k] >= kUnreachable ? kUnreachable : cost_[k] + Lost(k);
            }
        }
        const std::uint32_t last = (origin + along_ - 1) % along_;
        std::int64_t best = kUnreachable;
        std::size_t end = 0;
        for (std::size_t p = start_[last]; p < start_[last + 1]; ++p) {
            if (cost_[p] < kUnreachable) {
                const std::int64_t total = cost_[p] + Seam(last, shifts_[p], shifts_[originShift]);
                if (total < best) {
                    best = total;
                    end = p;
                }
            }
        }
        if (best >= kUnreachable) {
            return false;
        }
        chosen_.assign(along_, 0);
        std::size_t k = end;
        for (std::uint32_t step = along_; step-- > 1;) {
            chosen_[(origin + step) % along_] = shifts_[k];
            k = from_[k];
        }
        chosen_[origin] = shifts_[originShift];
        return true;
    }

    // Whether every piece (side neighbours with the same source offset,
    // not across the wrap-around edges) that reaches into the course keeps
    // within the limit.
    bool PiecesWithinLimit() {
        ++stampNow_;
        const std::uint32_t width = map_.width;
        const std::uint32_t height = map_.height;
        const auto offsetOf = [&](std::size_t p) {
            const SourcePosition& s = map_.positions[p];
            const auto x = static_cast<std::int64_t>(p % width);
            const auto y = static_cast<std::int64_t>(p / width);
            return std::pair{std::int64_t{s.x} - x, std::int64_t{s.y} - y};
        };
        for (std::uint32_t line = first_; line < end_; ++line) {
            for (std::uint32_t j = 0; j < along_; ++j) {
                const std::size_t seed = Pixel(line, j);
                if (stamp_[seed] == stampNow_) {
                    continue;
                }
                const auto offset = offsetOf(seed);
                queue_.assign(1, seed);
                stamp_[seed] = stampNow_;
                for (std::size_t q = 0; q < queue_.size(); ++q) {
                    if (queue_.size() > pieceLimit_) {
                        return false;
                    }
                    const std::size_t p = queue_[q];
                    const std::uint32_t x = static_cast<std::uint32_t>(p % width);
                    const std::uint32_t y = static_cast<std::uint32_t>(p / width);
                    const std::size_t around[4] = {x + 1 < width ? p + 1 : p, x > 0 ? p - 1 : p,
                                                   y + 1 < height ? p + width : p,
                                                   y > 0 ? p - width : p};
                    for (const std::size_t n : around) {
                        if (stamp_[n] != stampNow_ && offsetOf(n) == offset) {
                            stamp_[n] = stampNow_;
                            queue_.push_back(n);
                        }
                    }
                }
            }
        }
        return true;
    }

    const Image& sample_;
    SourceMap& map_;
    Image& output_;
    bool rows_;
    const std::vector<std::uint32_t>& lines_;
    std::uint32_t along_;
    std::int64_t sampleAlong_;
    std::uint32_t channels_;
    std::uint64_t pieceLimit_;
    std::uint32_t first_ = 0;
    std::uint32_t end_ = 0;
    // Per column, its shifts start_[j] to start_[j + 1] of shifts_, with
    // their pixel counts; the path's cost and step back per shift.
    std::vector<std::uint32_t> start_;
    std::vector<std::int64_t> shifts_;
    std::vector<std::uint32_t> counts_;
    std::vector<std::pair<std::uint32_t, std::int64_t>> ranked_;
    std::vector<std::int64_t> cost_;
    std::vector<std::uint32_t> from_;
    std::vector<std::int64_t> chosen_;
    std::vector<SourcePosition> kept_;
    std::vector<std::uint32_t> stamp_;
    std::uint32_t stampNow_ = 0;
    std::vector<std::size_t> queue_;
};

}  // namespace

bool CourseStrips::Run(const Image& sample, SourceMap& map, Image& output, CourseAxis axis,
                       const std::vector<std::uint32_t>& lines,
                       const std::vector<bool>& sampleBreaks, std::uint64_t pieceLimit,
                       const std::function<bool()>& aborted) {
    const std::uint32_t count = axis == CourseAxis::Rows ? map.height : map.width;
    const std::uint32_t sampleLines = axis == CourseAxis::Rows ? sample.height : sample.width;
    if (axis == CourseAxis::None || count == 0 || lines.size() != count ||
        map.positions.size() != std::size_t{map.width} * map.height || sample.IsEmpty() ||
        sampleBreaks.size() != sampleLines ||
        std::any_of(lines.begin(), lines.end(),
                    [&](std::uint32_t l) { return l >= sampleLines; })) {
        return true;
    }
    Strips strips(sample, map, output, axis, lines, pieceLimit);
    for (std::uint32_t first = 0; first < count;) {
        if (aborted()) {
            return false;
        }
        std::uint32_t end = first + 1;
        while (end < count && lines[end] == lines[end - 1] + 1 && !sampleBreaks[lines[end - 1]]) {
            ++end;
        }
        if (end - first > 1 && end - first <= kMostCourse) {
            strips.Lay(first, end);
        }
        first = end;
    }
    return true;
}

std::uint64_t CourseStrips::PeakBytes(std::uint32_t width, std::uint32_t height,
                                      std::uint64_t pieceLimit) {
    // A stamp per pixel; a piece's queue; along a course (either way), at
    // most kMostShifts shifts a column, each with its count, cost, step back
    // and rank; and the source kept of each pixel of a course.
    const std::uint64_t along = std::max(width, height);
    const std::uint64_t course = std::min<std::uint64_t>(std::min(width, height), kMostCourse);
    return std::uint64_t{width} * height * 4 + (pieceLimit + 8) * sizeof(std::size_t) +
           along * (kMostShifts * (8 + 4 + 8 + 4 + 16) + 4) +
           along * course * sizeof(SourcePosition) + 4096;
}

}  // namespace weftloom::coherent
