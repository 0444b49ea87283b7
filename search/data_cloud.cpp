#include "search/data_cloud.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "search/subsample_draws.h"
#include "search/worker_pool.h"

namespace weftloom {

template <DistanceMetric M>
void DataCloud<M>::ConfigureSubsampling(SubsamplingMode mode, std::uint32_t subsamplePercent,
                                        std::uint32_t minimumPixelCount,
                                        std::int32_t subsampleCount) {
    subsample_ = false;
    if (mode == SubsamplingMode::Percentage) {
        const std::uint32_t n = PointCount();
        if (n >= minimumPixelCount) {
            subsample_ = true;
            // Unsigned 32-bit product, wrapping like the rest of the arithmetic.
            sampleSize_ = static_cast<std::int32_t>(subsamplePercent * n / 100u);
        }
    } else if (mode == SubsamplingMode::FixedCount) {
        subsample_ = true;
        sampleSize_ = subsampleCount;
    }
}

namespace {

// sampleSize / n, divided in floating point and rounded to single precision.
float SubsampleRatio(std::int32_t sampleSize, std::uint32_t pointCount) {
    return static_cast<float>(static_cast<double>(sampleSize) / static_cast<double>(pointCount));
}

std::int32_t ThresholdOf(float ratio) {
    const float scaled = ratio * 32768.0f;
    // A hugely negative sample size saturates; every negative threshold reads as
    // an unsigned value above any draw, so all of them mean "examine all".
    if (scaled <= static_cast<float>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(scaled);
}

// Indices a chunk selects per round of draws; a chunk is at least this long.
constexpr std::uint32_t kDrawWindow = 4096;
// Indices below which a chunk is not worth a thread's hand-off.
constexpr std::uint32_t kMinChunk = 512;
// How far the first of two chunks' share of the points moves after each
// query, and the least share either chunk keeps, in 1024ths.
constexpr std::uint32_t kShareStep = 4;
constexpr std::uint32_t kLeastShare = 256;
// Points a query examines below which splitting it costs more than it saves.
constexpr std::uint32_t kSplitWork = 1536;
// Rows of more bytes than this are taken to be read from memory rather than
// a cache (measured: the rest of the rows fetched ahead made a 256 x 256
// sample's exact search 13 % faster, a 128 x 112 sample's, some 5 MiB of
// rows, 4 % slower).
constexpr std::size_t kCachedRowBytes = std::size_t{8} << 20;
// Candidates evaluated side by side: few enough that the bound keeps up.
constexpr std::uint32_t kBatch = 64;

// What a point's feature sum is held against: the gap between its sum and the
// query's, squared for L2, at or above the limit rules the point out. The gap
// bounds the distance from below: for L1 it is at most the distance itself;
// for L2 its square is at most dim times the distance (Cauchy-Schwarz); for
// Linf it is at most dim times the distance.
template <DistanceMetric M>
std::uint64_t SumLimit(std::uint32_t bound, std::uint32_t dim) {
    if constexpr (M == DistanceMetric::L2) {
        return std::uint64_t{bound} * dim;
    } else if constexpr (M == DistanceMetric::L1) {
        return bound;
    } else {
        // ceil(gap / dim) >= bound; a bound of 0 rules out every point.
        return bound == 0 ? 0 : std::uint64_t{bound - 1} * dim + 1;
    }
}

// Keeps in place, in order, the candidates whose sums do not rule them out,
// and returns how many.
template <DistanceMetric M>
std::uint32_t KeepBySum(const std::uint32_t* sums, std::uint32_t querySum, std::uint64_t limit,
                        std::uint32_t* candidates, std::uint32_t count) {
    std::uint32_t kept = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t v = candidates[k];
        const std::uint32_t sum = sums[v];
        const std::uint64_t gap = sum > querySum ? sum - querySum : querySum - sum;
        const std::uint64_t key = M == DistanceMetric::L2 ? gap * gap : gap;
        candidates[kept] = v;
        kept += key < limit ? 1u : 0u;
    }
    return kept;
}

}  // namespace

template <DistanceMetric M>
std::int32_t DataCloud<M>::SubsampleThreshold(std::int32_t sampleSize, std::uint32_t pointCount) {
    return ThresholdOf(SubsampleRatio(sampleSize, pointCount));
}

template <DistanceMetric M>
bool DataCloud<M>::FindNearest(const FeatureVector& query, FeatureVector& pixel,
                               RandomGenerator& random) const {
    const ByteRows row = QueryRow(query);
    if (row.empty()) {
        return false;
    }
    const std::uint32_t index = FindNearestIndex(row.data(), random);
    if (index == kNoMatch) {
        return false;
    }
    pixel = PixelValues(index);
    return true;
}

// One query's scan of points 1..n-1, cut into chunks of consecutive indices.
// Each chunk finds the lowest (distance, index) among its examined points that
// beats point 0; the chunks' winners are merged in index order. A chunk may
// reject against a distance another chunk has already found (plus one, since
// its own points may have lower indices): a point above it cannot win.
template <DistanceMetric M>
struct DataCloud<M>::Scan {
    const DataCloud* cloud;
    const std::uint8_t* query;
    std::uint32_t firstDistance;
    bool subsampled;
    bool shareBound;
    std::uint32_t state;
    std::uint32_t threshold;
    std::uint32_t firstLength;  // the first chunk's points
    std::uint32_t chunkLength;  // each other chunk's
    std::atomic<std::uint32_t> sharedBest;
    // Points likely to lie near the query, measured first to prune the rest.
    std::array<std::uint32_t, 2> hints;
    std::uint32_t chunks;
    struct Best {
        std::uint32_t distance;
        std::uint32_t index;
    };
    Best* results;
    StageKernel stage;  // null when the sum may wrap: then every point in full, in order
    // The points' feature sums and the query's, which rule points out before
    // their rows are read (null: not used).
    const std::uint32_t* sums = nullptr;
    // For L2, the points' group sums and the query's, which rule out most of
    // the points the whole sum keeps (null: not used).
    const std::uint16_t* groupSums = nullptr;
    std::uint32_t groupWidth = 0;
    GroupFilter groupFilter = nullptr;
    // Whether the rows are too many to stay in a core's cache, so that every
    // block a stage reads must be fetched ahead.
    bool farRows = false;

    void Evaluate(std::uint32_t j, Best& best) {
        const std::uint32_t bound = Bound(best);
        const std::uint32_t d = cloud->kernel_(
            query, cloud->rows_.data() + std::size_t{j} * cloud->stride_, cloud->stride_, bound);
        if (d < bound) {
            Accept(d, j, best);
        }
    }

    std::uint32_t Bound(const Best& best) const {
        return shareBound ? std::min(best.distance, sharedBest.load(std::memory_order_relaxed) + 1u)
                          : best.distance;
    }

    // Evaluates candidates in batches, 64 bytes of every row of the batch per
    // stage, dropping those already at the bound (a rejection against an
    // older, larger bound is still valid); the survivors of the last stage
    // carry their whole distance and are accepted in index order against the
    // bound of the moment, exactly as one at a time would.
    // The query's whole sum and group sums, which a chunk works out for
    // itself (both chunks at once, rather than the caller before them).
    struct QuerySums {
        std::uint32_t sum = 0;
        std::array<std::uint16_t, kSumGroups> groups{};
    };

    void SumQuery(QuerySums& out) const {
        if (sums == nullptr) {
            return;
        }
        for (std::uint32_t i = 0; i < cloud->featureDim_; ++i) {
            out.sum += query[i];
        }
        if (groupSums != nullptr) {
            GroupSumsOf(query, cloud->featureDim_, out.groups.data());
        }
    }

    void EvaluateAll(std::uint32_t* candidates, std::uint32_t count, Best& best,
                     const QuerySums& querySums) {
        if (stage == nullptr) {
            for (std::uint32_t k = 0; k < count; ++k) {
                Evaluate(candidates[k], best);
            }
            return;
        }
        const std::uint8_t* rows = cloud->rows_.data();
        const std::size_t stride = cloud->stride_;
        std::uint32_t partials[kBatch];
        // Each batch is first thinned by the sums, against the bound of the
        // moment (a rejection against an older, larger bound is still valid),
        // a batch ahead: only the rows still wanted are fetched.
        std::uint32_t next = KeepBySums(candidates, std::min(kBatch, count), best, querySums);
        for (std::uint32_t at = 0; at < count; at += kBatch) {
            std::uint32_t* batch = candidates + at;
            std::uint32_t left = next;
            // The next batch's rows, scattered when subsampling, are on their
            // way while this batch is measured.
            // The group sums of the batch after next, so that the sums
            // filter does not wait for them.
            if (groupSums != nullptr) {
                for (std::uint32_t k = at + 2 * kBatch; k < std::min(count, at + 3 * kBatch); ++k) {
                    __builtin_prefetch(groupSums + std::size_t{candidates[k]} * kSumGroups);
                }
            }
            if (at + kBatch < count) {
                std::uint32_t* ahead = batch + kBatch;
                next = KeepBySums(ahead, std::min(kBatch, count - at - kBatch), best, querySums);
                for (std::uint32_t k = 0; k < next; ++k) {
                    const std::uint8_t* row = rows + std::size_t{ahead[k]} * stride;
                    __builtin_prefetch(row);
                    __builtin_prefetch(row + 64);
                }
            }
            std::fill_n(partials, left, 0u);
            for (std::size_t offset = 0; offset < stride && left != 0; offset += 64) {
                left = stage(query, rows, stride, offset, batch, partials, left, Bound(best));
                if (offset == 0 && farRows) {
                    // The rest of the survivors' rows (the first two blocks
                    // were fetched a batch ahead), while the second block is
                    // measured.
                    for (std::uint32_t k = 0; k < left; ++k) {
                        const std::uint8_t* row = rows + std::size_t{batch[k]} * stride;
                        for (std::size_t line = 128; line < stride; line += 64) {
                            __builtin_prefetch(row + line);
                        }
                    }
                }
            }
            for (std::uint32_t k = 0; k < left; ++k) {
                if (partials[k] < Bound(best)) {
                    Accept(partials[k], batch[k], best);
                }
            }
        }
    }

    // Keeps in place, in order, the count candidates that the sums do not
    // rule out, and returns how many.
    std::uint32_t KeepBySums(std::uint32_t* candidates, std::uint32_t count, const Best& best,
                             const QuerySums& querySums) {
        if (sums == nullptr) {
            return count;
        }
        const std::uint32_t bound = Bound(best);
        count = KeepBySum<M>(sums, querySums.sum, SumLimit<M>(bound, cloud->featureDim_),
                             candidates, count);
        if (groupSums == nullptr) {
            return count;
        }
        // A point is out when its group distance is at or above bound times
        // the width; past 32 bits none is (a group distance stays below).
        const std::uint64_t limit = std::uint64_t{bound} * groupWidth;
        return groupFilter(groupSums, querySums.groups.data(),
                           static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, 0xFFFFFFFFu)),
                           candidates, count);
    }

    void Accept(std::uint32_t distance, std::uint32_t index, Best& best) {
        best = {distance, index};
        if (shareBound) {
            std::uint32_t seen = sharedBest.load(std::memory_order_relaxed);
            while (distance < seen &&
                   !sharedBest.compare_exchange_weak(seen, distance, std::memory_order_relaxed)) {
            }
        }
    }

    // An examined point's distance prunes every point above it from the
    // start (that point itself is found again in its chunk). The chunks
    // share the hints out, each measuring its own first.
    void MeasureHints(std::uint32_t chunk) {
        const std::uint32_t n = cloud->PointCount();
        for (std::uint32_t k = chunk; k < hints.size() && shareBound; k += chunks) {
            const std::uint32_t hint = hints[k];
            const bool examined = hint != 0 && hint < n && (k == 0 || hint != hints[0]) &&
                                  (!subsampled || ((RandomGenerator::Advance(state, hint) >> 16) &
                                                   RandomGenerator::kMaxValue) < threshold);
            if (!examined) {
                continue;
            }
            std::uint32_t seen = sharedBest.load(std::memory_order_relaxed);
            const std::uint32_t distance =
                cloud->kernel_(query, cloud->rows_.data() + std::size_t{hint} * cloud->stride_,
                               cloud->stride_, seen);
            while (distance < seen &&
                   !sharedBest.compare_exchange_weak(seen, distance, std::memory_order_relaxed)) {
            }
        }
    }

    void Chunk(std::uint32_t chunk) {
        const std::uint32_t n = cloud->PointCount();
        MeasureHints(chunk);
        QuerySums querySums;
        SumQuery(querySums);
        const std::uint32_t begin = chunk == 0 ? 1 : 1 + firstLength + (chunk - 1) * chunkLength;
        const std::uint32_t end = std::min(n, chunk == 0 ? 1 + firstLength : begin + chunkLength);
        Best best{firstDistance, 0};
        std::uint32_t picked[kDrawWindow + 16];
        // Draw j is the j-th after the query's starting state.
        std::uint32_t s = subsampled ? RandomGenerator::Advance(state, begin - 1) : 0;
        const DrawKernel draw = BestDrawKernel();
        for (std::uint32_t at = begin; at < end; at += kDrawWindow) {
            const std::uint32_t count = std::min(kDrawWindow, end - at);
            std::uint32_t found = count;
            if (subsampled) {
                found = draw(s, at, count, threshold, picked);
            } else {
                for (std::uint32_t k = 0; k < count; ++k) {
                    picked[k] = at + k;
                }
            }
            EvaluateAll(picked, found, best, querySums);
        }
        results[chunk] = best;
    }
};

template <DistanceMetric M>
std::uint32_t DataCloud<M>::ScanAll(const std::uint8_t* query, std::uint32_t bestDistance,
                                    std::array<std::uint32_t, 2> hints, bool subsampled,
                                    std::uint32_t state, std::uint32_t threshold) const {
    const std::uint32_t n = PointCount();
    // A sum that may wrap keeps the literal order: one chunk, one bound.
    const bool exactOrder = SumMayWrap(M, stride_);
    const std::uint32_t work =
        subsampled ? static_cast<std::uint32_t>(std::uint64_t{n} * threshold / 32768u) : n;
    std::uint32_t threads =
        exactOrder || work < kSplitWork ? 1u : WorkerPool::EffectiveThreads(threadCount_);
    // One chunk per thread: more would leave one thread a chunk behind; a
    // worker that comes late finds its chunk taken by the caller.
    std::uint32_t chunks = std::min(threads, std::max(1u, (n - 1) / kMinChunk));
    if (chunks <= 1) {
        threads = 1;
        chunks = 1;
    }
    typename Scan::Best results[64];
    chunks = std::min(chunks, 64u);
    // Two chunks split the points as firstShare_ says; more, evenly.
    const std::uint32_t rest = n - 1;
    std::uint32_t firstLength = (rest + chunks - 1) / chunks;
    const std::uint32_t share = firstShare_.value.load(std::memory_order_relaxed);
    if (chunks == 2) {
        firstLength = std::clamp<std::uint32_t>(
            static_cast<std::uint32_t>(std::uint64_t{rest} * share / 1024), 1, rest - 1);
    }
    Scan scan{this,
              query,
              bestDistance,
              subsampled,
              !exactOrder,
              state,
              threshold,
              firstLength,
              chunks > 1 ? (rest - firstLength + chunks - 2) / (chunks - 1) : 0,
              {bestDistance},
              hints,
              chunks,
              results,
              exactOrder ? nullptr : StageKernelFor(M, BestSimdLevel())};
    scan.farRows = rows_.size() >= kCachedRowBytes;
    // Sums of more than 2^32 / 255 bytes could wrap.
    if (!exactOrder && featureDim_ < 0xFFFFFFFFu / 255u) {
        scan.sums = Sums();
        if (M == DistanceMetric::L2 && GroupSums() != nullptr) {
            scan.groupSums = GroupSums();
            scan.groupWidth = SumGroupWidth(featureDim_);
            scan.groupFilter = GroupFilterFor(BestSimdLevel());
        }
    }
    // The chunks the calling thread ran (bits), set by that thread alone.
    std::uint32_t callerRan = 0;
    const std::thread::id caller = std::this_thread::get_id();
    const bool waited = WorkerPool::Shared().Run(chunks, threads - 1,
                                                 [&scan, &callerRan, caller](std::uint32_t chunk) {
                                                     scan.Chunk(chunk);
                                                     if (std::this_thread::get_id() == caller) {
                                                         callerRan |= 1u << chunk;
                                                     }
                                                 });
    if (chunks == 2 && (callerRan == 1u || callerRan == 2u)) {
        // The chunk that finished last: the worker's if the caller waited.
        const bool firstLast = waited ? callerRan == 2u : callerRan == 1u;
        firstShare_.value.store(
            std::clamp<std::uint32_t>(firstLast ? share - kShareStep : share + kShareStep,
                                      kLeastShare, 1024 - kLeastShare),
            std::memory_order_relaxed);
    }
    typename Scan::Best best{bestDistance, 0};
    for (std::uint32_t c = 0; c < chunks; ++c) {
        if (results[c].distance < best.distance) {
            best = results[c];
        }
    }
    return best.index;
}

template <DistanceMetric M>
std::uint32_t DataCloud<M>::FindNearestIndex(const std::uint8_t* query, RandomGenerator& random,
                                             std::uint32_t hint, std::uint32_t otherHint) const {
    const std::uint32_t n = PointCount();
    if (n == 0) {
        return kNoMatch;
    }
    const std::uint32_t first = SumMayWrap(M, stride_)
                                    ? LiteralFullDistance(M, query, rows_.data(), featureDim_)
                                    : kernel_(query, rows_.data(), stride_, 0xFFFFFFFFu);
    if (n == 1) {
        return 0;
    }
    const float ratio = SubsampleRatio(sampleSize_, n);
    if (!subsample_ || ratio >= 1.0f) {
        return ScanAll(query, first, {hint, otherHint}, false, 0, 0);
    }
    // The draws never depend on the distances: take them all at once.
    const std::uint32_t state = random.State();
    random.Skip(n - 1);
    const auto threshold = static_cast<std::uint32_t>(ThresholdOf(ratio));
    if (threshold == 0) {
        return 0;
    }
    return ScanAll(query, first, {hint, otherHint}, threshold <= RandomGenerator::kMaxValue, state,
                   threshold);
}

template class DataCloud<DistanceMetric::L1>;
template class DataCloud<DistanceMetric::L2>;
template class DataCloud<DistanceMetric::Linf>;

}  // namespace weftloom
