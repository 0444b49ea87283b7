#include "tests/reference/reference_search.h"

#include <limits>
#include <numeric>
#include <utility>

namespace weftloom::reference {

template <DistanceMetric M>
void DataCloud<M>::ConfigureSubsampling(SubsamplingMode mode, std::uint32_t subsamplePercent,
                                        std::uint32_t minimumPixelCount,
                                        std::int32_t subsampleCount) {
    subsample_ = false;
    if (mode == SubsamplingMode::Percentage) {
        const std::uint32_t n = PointCount();
        if (n >= minimumPixelCount) {
            subsample_ = true;
            sampleSize_ = static_cast<std::int32_t>(subsamplePercent * n / 100u);
        }
    } else if (mode == SubsamplingMode::FixedCount) {
        subsample_ = true;
        sampleSize_ = subsampleCount;
    }
}

template <DistanceMetric M>
bool DataCloud<M>::FindNearest(const FeatureVector& query, FeatureVector& pixel,
                               RandomGenerator& random) const {
    if (points_.empty() || query.size() != featureDim_) {
        return false;
    }
    const std::uint32_t* q = query.data();
    std::uint32_t best = Distance<M>::Full(q, points_[0].features.data(), featureDim_);
    std::uint32_t bestIndex = 0;

    const std::uint32_t n = PointCount();
    const auto ratio = static_cast<float>(static_cast<double>(sampleSize_) / n);
    if (!subsample_ || ratio >= 1.0f) {
        for (std::uint32_t j = 1; j < n; ++j) {
            if (Distance<M>::Bounded(q, points_[j].features.data(), featureDim_, best, best)) {
                bestIndex = j;
            }
        }
    } else {
        const float scaled = ratio * 32768.0f;
        const std::int32_t threshold =
            scaled <= static_cast<float>(std::numeric_limits<std::int32_t>::min())
                ? std::numeric_limits<std::int32_t>::min()
                : static_cast<std::int32_t>(scaled);
        for (std::uint32_t j = 1; j < n; ++j) {
            if (random.Next() < static_cast<std::uint32_t>(threshold) &&
                Distance<M>::Bounded(q, points_[j].features.data(), featureDim_, best, best)) {
                bestIndex = j;
            }
        }
    }
    pixel = points_[bestIndex].pixel;
    return true;
}

template <DistanceMetric M>
void KdTreeCloud<M>::Build() {
    if (points_.empty() || featureDim_ == 0) {
        return;
    }
    std::vector<std::uint32_t> index(points_.size());
    std::iota(index.begin(), index.end(), 0u);
    BuildRange(index, 0, PointCount() - 1, 0);
}

template <DistanceMetric M>
std::uint32_t KdTreeCloud<M>::BuildRange(std::vector<std::uint32_t>& index, std::uint32_t lo,
                                         std::uint32_t hi, std::uint32_t coordinate) {
    if (lo == hi) {
        nodes_.push_back(Node{index[lo], 0, 0});
        return static_cast<std::uint32_t>(nodes_.size() - 1);
    }
    // The median by Hoare selection with the range's first element as pivot.
    std::uint32_t rank = (hi - lo + 1) / 2;
    std::uint32_t a = lo;
    std::uint32_t b = hi;
    while (a != b) {
        const std::uint32_t split = Partition(index, a, b, coordinate);
        const std::uint32_t lower = split - a + 1;
        if (rank >= lower) {
            rank -= lower;
            a = split + 1;
        } else {
            b = split;
        }
    }
    const std::uint32_t median = a;
    nodes_.push_back(Node{index[median], 0, 0});
    const auto node = static_cast<std::uint32_t>(nodes_.size() - 1);
    const std::uint32_t next = (coordinate + 1) % featureDim_;
    const std::uint32_t left = median > lo ? BuildRange(index, lo, median - 1, next) : 0;
    const std::uint32_t right = median < hi ? BuildRange(index, median + 1, hi, next) : 0;
    nodes_[node].left = left;
    nodes_[node].right = right;
    return node;
}

template <DistanceMetric M>
std::uint32_t KdTreeCloud<M>::Partition(std::vector<std::uint32_t>& index, std::uint32_t lo,
                                        std::uint32_t hi, std::uint32_t coordinate) const {
    const std::uint32_t pivot = Value(index, lo, coordinate);
    std::uint32_t i = lo - 1;
    std::uint32_t j = hi + 1;
    for (;;) {
        do {
            --j;
        } while (Value(index, j, coordinate) > pivot);
        do {
            ++i;
        } while (Value(index, i, coordinate) < pivot);
        if (i >= j) {
            return j;
        }
        std::swap(index[i], index[j]);
    }
}

template <DistanceMetric M>
void KdTreeCloud<M>::FindNearest(const FeatureVector& query, std::uint32_t& bestDistance,
                                 std::uint32_t& bestIndex) const {
    if (!nodes_.empty() && query.size() == featureDim_) {
        Descend(0, query.data(), bestDistance, bestIndex, 0);
    }
}

template <DistanceMetric M>
void KdTreeCloud<M>::Evaluate(std::uint32_t pointIndex, const std::uint32_t* query,
                              std::uint32_t& bestDistance, std::uint32_t& bestIndex) const {
    if (Distance<M>::Bounded(query, points_[pointIndex].features.data(), featureDim_, bestDistance,
                             bestDistance)) {
        bestIndex = pointIndex;
    }
}

template <DistanceMetric M>
void KdTreeCloud<M>::Descend(std::uint32_t node, const std::uint32_t* query,
                             std::uint32_t& bestDistance, std::uint32_t& bestIndex,
                             std::uint32_t coordinate) const {
    for (;;) {
        const Node current = nodes_[node];
        if (current.left == 0 && current.right == 0) {
            Evaluate(current.point, query, bestDistance, bestIndex);
            return;
        }
        const std::uint32_t next = (coordinate + 1) % featureDim_;
        const std::uint32_t split = points_[current.point].features[coordinate];
        const std::uint32_t q = query[coordinate];
        std::uint32_t nearChild = current.left;
        std::uint32_t farChild = current.right;
        std::uint32_t diff = split - q;
        if (q > split) {
            nearChild = current.right;
            farChild = current.left;
            diff = q - split;
        }
        if (nearChild != 0) {
            Descend(nearChild, query, bestDistance, bestIndex, next);
        }
        const std::uint32_t bound = diff * diff;
        if (bound > bestDistance) {
            return;
        }
        Evaluate(current.point, query, bestDistance, bestIndex);
        if (bound > bestDistance || farChild == 0) {
            return;
        }
        node = farChild;
        coordinate = next;
    }
}

template class DataCloud<DistanceMetric::L1>;
template class DataCloud<DistanceMetric::L2>;
template class DataCloud<DistanceMetric::Linf>;
template class KdTreeCloud<DistanceMetric::L1>;
template class KdTreeCloud<DistanceMetric::L2>;
template class KdTreeCloud<DistanceMetric::Linf>;

}  // namespace weftloom::reference
