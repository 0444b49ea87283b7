#include "engine/coherent/courses.h"

#include <algorithm>
#include <array>
#include <utility>

#include "engine/coherent/common.h"

namespace weftloom::coherent {

namespace {

__extension__ using Wide = unsigned __int128;

constexpr std::uint32_t kChannels = 3;
// The surroundings two lines are compared by: this many lines on either
// side.
constexpr std::uint32_t kContext = 4;
// Each line keeps its cheapest few jumps.
constexpr std::size_t kMostJumps = 8;
// The walk's end is steered over this many times the sample's lines, and a
// table of at most kMostReach entries (see Plan).
constexpr std::uint64_t kClosingShare = 4;
constexpr std::uint64_t kMostReach = std::uint64_t{1} << 24;
// The fewest lines a sample needs to be laid in courses.
constexpr std::uint32_t kLeastLines = 8;

using Profile = std::vector<std::array<std::int64_t, kChannels>>;

// The value of channel c at position `along` of line `line`.
std::uint8_t ValueAt(const Image& sample, CourseAxis axis, std::uint32_t line, std::uint32_t along,
                     std::uint32_t c) {
    return axis == CourseAxis::Rows ? sample.PixelAt(along, line)[c]
                                    : sample.PixelAt(line, along)[c];
}
std::uint32_t LineCount(const Image& sample, CourseAxis axis) {
    return axis == CourseAxis::Rows ? sample.height : sample.width;
}
std::uint32_t LineLength(const Image& sample, CourseAxis axis) {
    return axis == CourseAxis::Rows ? sample.width : sample.height;
}
std::uint32_t Channels(const Image& sample) {
    return std::min(sample.bytesPerPixel, kChannels);
}

// Each line's sum of each channel.
Profile LineSums(const Image& sample, CourseAxis axis) {
    Profile sums(LineCount(sample, axis), {0, 0, 0});
    for (std::uint32_t line = 0; line < sums.size(); ++line) {
        for (std::uint32_t along = 0; along < LineLength(sample, axis); ++along) {
            for (std::uint32_t c = 0; c < Channels(sample); ++c) {
                sums[line][c] += ValueAt(sample, axis, line, along, c);
            }
        }
    }
    return sums;
}

std::uint64_t SquaredGap(const std::array<std::int64_t, kChannels>& a,
                         const std::array<std::int64_t, kChannels>& b) {
    std::uint64_t sum = 0;
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        const std::int64_t d = a[c] - b[c];
        sum += static_cast<std::uint64_t>(d * d);
    }
    return sum;
}

// How much of the sample's change from one line to the next its line means
// carry: the sum of their squared steps, and that of the pixels' steps times
// the line length (their quotient is the share).
struct StepShare {
    Wide lines = 0;
    Wide pixels = 0;
};
StepShare StepsAcross(const Image& sample, CourseAxis axis, const Profile& sums) {
    StepShare share;
    for (std::uint32_t line = 0; line + 1 < sums.size(); ++line) {
        share.lines += SquaredGap(sums[line], sums[line + 1]);
        for (std::uint32_t along = 0; along < LineLength(sample, axis); ++along) {
            for (std::uint32_t c = 0; c < Channels(sample); ++c) {
                const int d = int{ValueAt(sample, axis, line + 1, along, c)} -
                              int{ValueAt(sample, axis, line, along, c)};
                share.pixels += static_cast<std::uint64_t>(d * d);
            }
        }
    }
    share.pixels *= LineLength(sample, axis);
    return share;
}

// Whether the line means carry a fifth of the sample's variance: with S the
// line sums, n lines of m pixels, the variance of the means is
// (n sum S^2 - (sum S)^2) / (n m)^2, that of the pixels
// (N sum v^2 - (sum v)^2) / N^2 with N = n m.
bool MeansCarryVariance(const Image& sample, const Profile& sums) {
    const Wide count = Wide{sample.width} * sample.height;
    Wide ofMeans = 0;
    Wide ofPixels = 0;
    for (std::uint32_t c = 0; c < Channels(sample); ++c) {
        Wide sum = 0;
        Wide squares = 0;
        for (const auto& s : sums) {
            sum += static_cast<std::uint64_t>(s[c]);
            squares += Wide{static_cast<std::uint64_t>(s[c])} * static_cast<std::uint64_t>(s[c]);
        }
        ofMeans += Wide{sums.size()} * squares - sum * sum;
        Wide pixelSquares = 0;
        for (std::uint32_t y = 0; y < sample.height; ++y) {
            for (std::uint32_t x = 0; x < sample.width; ++x) {
                const std::uint32_t v = sample.PixelAt(x, y)[c];
                pixelSquares += v * v;
            }
        }
        ofPixels += count * pixelSquares - sum * sum;
    }
    return ofPixels > 0 && 5 * ofMeans >= ofPixels;
}

// What the output pays where line `to` follows line `from` instead of
// from + 1: how unlike the surroundings of from + 1 those of `to` are,
// kContext lines on either side, round the sample's edges where it tiles
// (cyclic). Otherwise lines past its edges are left out and the rest
// weighed up to the whole window's: after the sample's last line, what came
// before it tells what may follow.
std::uint64_t JumpCost(const Profile& sums, std::uint32_t from, std::uint32_t to, bool cyclic) {
    const auto count = static_cast<std::int64_t>(sums.size());
    const auto round = [&](std::int64_t i) { return cyclic ? (i % count + count) % count : i; };
    std::uint64_t cost = 0;
    std::uint64_t terms = 0;
    for (std::int64_t d = -std::int64_t{kContext}; d <= kContext; ++d) {
        const std::int64_t a = round(std::int64_t{from} + 1 + d);
        const std::int64_t b = round(std::int64_t{to} + d);
        if (a >= 0 && b >= 0 && a < count && b < count) {
            cost +=
                SquaredGap(sums[static_cast<std::size_t>(a)], sums[static_cast<std::size_t>(b)]);
            ++terms;
        }
    }
    return terms == 0 ? ~std::uint64_t{0} : cost * (2 * kContext + 1) / terms;
}

std::uint64_t Median(std::vector<std::uint64_t>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Where a walk at a course's line may go to make the course a line taller
// or shorter: the line again, or the line after next, where the sample
// changes little from the line on (no break); kNone for none.
std::array<std::uint32_t, 2> Stretches(const std::vector<bool>& breaks, std::uint32_t line) {
    const auto count = static_cast<std::uint32_t>(breaks.size());
    const bool again = !breaks[line];
    const bool over = again && line + 2 < count && !breaks[line + 1];
    return {again ? line : kNone, over ? line + 2 : kNone};
}

// The lines after which the sample changes abruptly, its course lines:
// those whose pixels differ from the next line's by at least twice the
// median line's. A sample whose last line leads into its first no more
// abruptly than some line into the next is taken to tile (the patterns
// made to repeat do, crops of photographs do not): its lines then run on
// round, and its last line is a break as any other; otherwise the last line
// is a break, where the walk must jump.
struct LineBreaks {
    std::vector<bool> after;
    bool cyclic = false;
};
LineBreaks Breaks(const Image& sample, CourseAxis axis) {
    const std::uint32_t count = LineCount(sample, axis);
    std::vector<std::uint64_t> steps(count, 0);  // the last: into the first
    for (std::uint32_t line = 0; line < count; ++line) {
        const std::uint32_t next = line + 1 < count ? line + 1 : 0;
        for (std::uint32_t along = 0; along < LineLength(sample, axis); ++along) {
            for (std::uint32_t c = 0; c < Channels(sample); ++c) {
                const int d = int{ValueAt(sample, axis, next, along, c)} -
                              int{ValueAt(sample, axis, line, along, c)};
                steps[line] += static_cast<std::uint64_t>(d * d);
            }
        }
    }
    std::vector<std::uint64_t> within(steps.begin(), steps.end() - 1);
    const std::uint64_t most = *std::max_element(within.begin(), within.end());
    const std::uint64_t median = Median(within);
    LineBreaks breaks;
    breaks.cyclic = steps[count - 1] <= most;
    breaks.after.resize(count);
    for (std::uint32_t line = 0; line < count; ++line) {
        breaks.after[line] = steps[line] >= 2 * median || (line + 1 == count && !breaks.cyclic);
    }
    return breaks;
}

// The sample's lines as a walk may take them: each line leads on to the
// next, and a break (the end of a course) also to the lines after other
// breaks whose surroundings look alike (its jumps, cheapest first). In a
// sample that does not tile, the last line is a break that a walk reaching
// it must jump from, and its first and last courses (head and tail), which
// its edges may cut, are no jump's end; a walk jumps rather than go into its
// tail, and out of it when it is there.
class LineGraph {
  public:
    LineGraph(const Image& sample, CourseAxis axis) : sums_(LineSums(sample, axis)) {
        LineBreaks lineBreaks = coherent::Breaks(sample, axis);
        breaks_ = std::move(lineBreaks.after);
        cyclic_ = lineBreaks.cyclic;
        const std::uint32_t count = Count();
        head_.assign(count, false);
        for (std::uint32_t line = 0; line < count && !cyclic_; ++line) {
            head_[line] = line == 0 || (head_[line - 1] && !breaks_[line - 1]);
        }
        tail_.assign(count, false);
        for (std::uint32_t line = count - 1; line > 0 && !cyclic_; --line) {
            tail_[line] = true;
            if (breaks_[line - 1]) {
                break;
            }
        }
        FindJumps();
    }

    std::uint32_t Count() const { return static_cast<std::uint32_t>(sums_.size()); }
    const std::vector<bool>& Breaks() const { return breaks_; }
    bool Break(std::uint32_t line) const { return breaks_[line]; }
    bool Tail(std::uint32_t line) const { return tail_[line]; }
    const std::vector<std::uint32_t>& Jumps(std::uint32_t line) const { return jumps_[line]; }
    std::uint32_t Next(std::uint32_t line) const {
        return line + 1 < Count()     ? line + 1
               : cyclic_              ? 0
               : jumps_[line].empty() ? lastFallback_
                                      : jumps_[line][0];
    }
    // Whether the walk, at `line`, must jump rather than go on.
    bool Forced(std::uint32_t line) const {
        return tail_[line] || (line + 1 < Count() && tail_[line + 1]);
    }
    // Whether going on from line leads into the tail, which a jump avoids.
    bool IntoTail(std::uint32_t line) const {
        return !tail_[line] && tail_[Next(line)] && !jumps_[line].empty();
    }
    bool LeadsInto(std::uint32_t from, std::uint32_t to) const {
        const std::vector<std::uint32_t>& options = jumps_[from];
        return Next(from) == to || std::find(options.begin(), options.end(), to) != options.end();
    }
    // The lines within a course, neither at its edges nor in the head or
    // the tail.
    std::vector<std::uint32_t> InnerLines() const {
        std::vector<std::uint32_t> inner;
        for (std::uint32_t line = 1; line < Count(); ++line) {
            if (!breaks_[line - 1] && !breaks_[line] && !tail_[line] && !head_[line]) {
                inner.push_back(line);
            }
        }
        return inner;
    }

  private:
    bool BreakBefore(std::uint32_t to) const {
        return to > 0 ? breaks_[to - 1] : cyclic_ && breaks_[Count() - 1];
    }
    // How far apart two lines lie, round the edges where the sample tiles.
    std::uint32_t Apart(std::uint32_t a, std::uint32_t b) const {
        const std::uint32_t gap = a > b ? a - b : b - a;
        return cyclic_ ? std::min(gap, Count() - gap) : gap;
    }
    // Each break's jumps: to the lines after other breaks, far enough from
    // its own next line, that cost at most the median, over the lines, of
    // each line's median jump; the sample's last line's cheapest such line,
    // whatever its cost, for a walk that reaches it.
    void FindJumps() {
        const std::uint32_t count = Count();
        std::vector<std::uint64_t> costs(count);
        std::vector<std::uint64_t> medians(count);
        for (std::uint32_t from = 0; from < count; ++from) {
            for (std::uint32_t to = 0; to < count; ++to) {
                costs[to] = JumpCost(sums_, from, to, cyclic_);
            }
            medians[from] = Median(costs);
        }
        const std::uint64_t cheap = Median(medians);
        jumps_.assign(count, {});
        std::vector<std::pair<std::uint64_t, std::uint32_t>> ranked;
        std::uint64_t lastFallbackCost = ~std::uint64_t{0};
        for (std::uint32_t from = 0; from < count; ++from) {
            if (!breaks_[from]) {
                continue;
            }
            ranked.clear();
            for (std::uint32_t to = 0; to < count; ++to) {
                if (!BreakBefore(to) || tail_[to] || head_[to] ||
                    Apart(to, from + 1 < count ? from + 1 : 0) <= kContext) {
                    continue;
                }
                const std::uint64_t cost = JumpCost(sums_, from, to, cyclic_);
                if (from + 1 == count && cost < lastFallbackCost) {
                    lastFallback_ = to;
                    lastFallbackCost = cost;
                }
                if (cost <= cheap) {
                    ranked.emplace_back(cost, to);
                }
            }
            std::sort(ranked.begin(), ranked.end());
            for (std::size_t i = 0; i < std::min(ranked.size(), kMostJumps); ++i) {
                jumps_[from].push_back(ranked[i].second);
            }
        }
    }

    Profile sums_;
    std::vector<bool> breaks_;
    bool cyclic_ = false;
    std::vector<bool> head_;
    std::vector<bool> tail_;
    std::vector<std::vector<std::uint32_t>> jumps_;
    std::uint32_t lastFallback_ = 0;
};

// Where the output wraps, its last line must lead into its first as a walk
// itself could. Over its last Lines() lines the walk keeps to steps from
// which that can still be done, and may take a course's line twice, or
// leave one out (a course a pixel taller or shorter), once per course: an
// output whose height is no sum of the sample's courses closes all the same.
// A walk's state: its line, and whether its course is stretched.
class Closing {
  public:
    Closing(const LineGraph& graph, std::uint32_t first, std::uint32_t outputLines)
        : graph_(graph),
          states_(2 * graph.Count()),
          lines_(static_cast<std::uint32_t>(std::min<std::uint64_t>(
              {outputLines - 1, kClosingShare * std::uint64_t{graph.Count()},
               kMostReach / states_}))),
          reach_(std::size_t{lines_ + 1} * states_, 0) {
        for (std::uint32_t state = 0; state < states_; ++state) {
            reach_[state] = graph.LeadsInto(state / 2, first) ? 1 : 0;
        }
        for (std::uint32_t k = 1; k <= lines_; ++k) {
            const std::uint8_t* later = reach_.data() + std::size_t{k - 1} * states_;
            for (std::uint32_t state = 0; state < states_; ++state) {
                const std::uint32_t line = state / 2;
                const bool stretched = (state & 1u) != 0;
                bool can = !graph.IntoTail(line) &&
                           later[After(line, graph.Next(line), stretched, false)] != 0;
                for (const std::uint32_t to : graph.Jumps(line)) {
                    can = can || later[After(line, to, stretched, false)] != 0;
                }
                for (const std::uint32_t to : Stretches(graph.Breaks(), line)) {
                    can = can ||
                          (!stretched && to != kNone && later[After(line, to, false, true)] != 0);
                }
                reach_[std::size_t{k} * states_ + state] = can ? 1 : 0;
            }
        }
    }

    // The state after a step from line `from` to `to`: a stretch marks the
    // course, a break clears the mark.
    std::uint32_t After(std::uint32_t from, std::uint32_t to, bool stretched, bool stretch) const {
        return 2 * to + ((stretch || (stretched && !graph_.Break(from))) ? 1u : 0u);
    }
    // Whether a step into `state`, with `left` lines after it, can close.
    bool Allows(std::uint32_t left, std::uint32_t state) const {
        return left > lines_ || reach_[std::size_t{left} * states_ + state] != 0;
    }

  private:
    const LineGraph& graph_;
    std::uint32_t states_;
    std::uint32_t lines_;
    // reach_[k * states_ + state]: whether the walk can close from state
    // with k lines left.
    std::vector<std::uint8_t> reach_;
};

// The output's lines: runs of consecutive lines, with jumps where allowed.
// The lines of a course (no break) the walk has been through since its last
// jump are counted: a jump never leaves a course out, and never makes a
// sliver of course lines alone. Once a course's lines end, the walk chooses
// between going on and each jump of the first line that has one, for the
// line used least so far (ties drawn), so that every course comes in turn.
// It starts within a course, which it comes back to where the output wraps:
// a break there would run along the whole wrap-around edge.
std::vector<std::uint32_t> Walk(const LineGraph& graph, std::uint32_t outputLines,
                                RandomGenerator& random) {
    std::vector<std::uint32_t> walk(outputLines, 0);
    const std::vector<std::uint32_t> inner = graph.InnerLines();
    walk[0] = inner.empty() ? Draw(random, graph.Count())
                            : inner[Draw(random, static_cast<std::uint32_t>(inner.size()))];
    const Closing closing(graph, walk[0], outputLines);
    std::vector<std::uint32_t> uses(graph.Count(), 0);
    uses[walk[0]] = 1;
    std::vector<std::uint32_t> choices;
    std::uint32_t through = 0;
    bool stretched = false;
    for (std::uint32_t i = 1; i < outputLines; ++i) {
        const std::uint32_t from = walk[i - 1];
        const std::uint32_t next = graph.Next(from);
        const std::uint32_t left = outputLines - 1 - i;  // lines after this one
        const auto allowed = [&](std::uint32_t to, bool stretch) {
            return closing.Allows(left, closing.After(from, to, stretched, stretch));
        };
        through += graph.Break(from) ? 0 : 1;
        const std::vector<std::uint32_t>& options = graph.Jumps(from);
        const bool forced = graph.Forced(from);
        const bool decide = !options.empty() && (forced || through >= kContext);
        // What the walk may do here, kept to what still closes if it can;
        // failing that, any step that does (a jump it would not choose, a
        // stretch); failing that, what it may do.
        bool stretch = false;
        for (const int tier : {0, 1, 2}) {
            const bool any = tier == 1;
            const bool closes = tier < 2;
            choices.clear();
            if ((any ? !graph.IntoTail(from) : !decide || !forced) &&
                (!closes || allowed(next, false))) {
                choices.push_back(next);
            }
            for (const std::uint32_t to : options) {
                if ((any || decide) && (!closes || allowed(to, false))) {
                    choices.push_back(to);
                }
            }
            for (const std::uint32_t to : Stretches(graph.Breaks(), from)) {
                if (any && choices.empty() && !stretched && to != kNone && allowed(to, true)) {
                    choices.push_back(to);
                    stretch = true;
                }
            }
            if (!choices.empty()) {
                break;
            }
        }
        std::uint32_t to = next;
        if (choices.size() == 1) {
            to = choices[0];
        } else if (!choices.empty()) {
            // The least used, the ties in an order drawn.
            const std::uint32_t start = Draw(random, static_cast<std::uint32_t>(choices.size()));
            to = choices[start];
            for (std::size_t j = 1; j < choices.size(); ++j) {
                const std::uint32_t c = choices[(start + j) % choices.size()];
                to = uses[c] < uses[to] ? c : to;
            }
        }
        if ((decide && !forced) || (to != next && !forced && !stretch)) {
            through = 0;  // this course's end is decided, or jumped from
        }
        stretched = (closing.After(from, to, stretched, stretch) & 1u) != 0;
        walk[i] = to;
        ++uses[to];
    }
    return walk;
}

}  // namespace

CourseAxis DetectCourses(const Image& sample) {
    if (sample.width < kLeastLines || sample.height < kLeastLines || Channels(sample) == 0) {
        return CourseAxis::None;
    }
    const Profile rows = LineSums(sample, CourseAxis::Rows);
    const Profile columns = LineSums(sample, CourseAxis::Columns);
    const StepShare down = StepsAcross(sample, CourseAxis::Rows, rows);
    const StepShare across = StepsAcross(sample, CourseAxis::Columns, columns);
    // share = lines / pixels: above 0.15, and twice the other way's.
    const auto laid = [&](const Profile& sums, const StepShare& along, const StepShare& other) {
        return along.pixels > 0 && 20 * along.lines >= 3 * along.pixels &&
               along.lines * other.pixels >= 2 * other.lines * along.pixels &&
               MeansCarryVariance(sample, sums);
    };
    if (laid(rows, down, across)) {
        return CourseAxis::Rows;
    }
    if (laid(columns, across, down)) {
        return CourseAxis::Columns;
    }
    return CourseAxis::None;
}

Courses Courses::Plan(const Image& sample, CourseAxis axis, std::uint32_t outputLines,
                      RandomGenerator& random) {
    Courses courses;
    if (axis == CourseAxis::None || LineCount(sample, axis) < kLeastLines || outputLines == 0) {
        return courses;
    }
    const LineGraph graph(sample, axis);
    courses.lines_ = Walk(graph, outputLines, random);
    courses.axis_ = axis;
    courses.breaks_ = graph.Breaks();
    return courses;
}

std::vector<std::uint32_t> Courses::ForLevel(std::uint32_t level, std::uint32_t outputLines,
                                             std::uint32_t sampleLines) const {
    std::vector<std::uint32_t> lines;
    if (axis_ == CourseAxis::None || lines_.empty() || sampleLines == 0) {
        return lines;
    }
    lines.resize(outputLines);
    for (std::uint32_t i = 0; i < outputLines; ++i) {
        const std::uint32_t finest = lines_[(std::uint64_t{i} << level) % lines_.size()];
        lines[i] = std::min(finest >> level, sampleLines - 1);
    }
    return lines;
}

std::uint64_t Courses::PlanBytes(std::uint32_t sampleLines, std::uint32_t outputLines) {
    // Per sample line: its sums; its step, twice, and its break and head and
    // tail marks; both lists of costs; its jumps (a vector and up to
    // kMostJumps lines) and their ranking; its use count and its place among
    // the inner lines. The walk, and the table that steers its end (two
    // states a line, a byte each).
    const std::uint64_t perSampleLine =
        sizeof(std::array<std::int64_t, kChannels>) + 4 * sizeof(std::uint64_t) + 1 +
        sizeof(std::vector<std::uint32_t>) + kMostJumps * sizeof(std::uint32_t) +
        sizeof(std::pair<std::uint64_t, std::uint32_t>) + 2 * sizeof(std::uint32_t);
    const std::uint64_t states = 2 * std::uint64_t{sampleLines};
    const std::uint64_t closing =
        states == 0 ? 0
                    : std::min({std::uint64_t{outputLines}, kClosingShare * sampleLines,
                                kMostReach / states});
    return std::uint64_t{sampleLines} * perSampleLine +
           std::uint64_t{outputLines} * sizeof(std::uint32_t) + (closing + 1) * states + 4096;
}

std::uint64_t Courses::KeptBytes(std::uint32_t outputLines) {
    // The plan, and one level's lines.
    return 2 * std::uint64_t{outputLines} * sizeof(std::uint32_t);
}

}  // namespace weftloom::coherent
