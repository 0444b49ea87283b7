#include "search/kd_tree_cloud.h"

#include <numeric>
#include <utility>

namespace weftloom {

template <DistanceMetric M>
void KdTreeCloud<M>::Build() {
    built_ = true;
    if (points_.empty() || featureDim_ == 0) {
        return;
    }
    std::vector<std::uint32_t> index(points_.size());
    std::iota(index.begin(), index.end(), 0u);
    nodes_.reserve(points_.size());
    BuildRange(index, 0, PointCount() - 1, 0);
}

template <DistanceMetric M>
std::uint32_t KdTreeCloud<M>::BuildRange(std::vector<std::uint32_t>& index, std::uint32_t lo,
                                         std::uint32_t hi, std::uint32_t coordinate) {
    if (hi < lo) {
        return 0;
    }
    if (lo == hi) {
        nodes_.push_back(KdNode{index[lo], 0, 0});
        return static_cast<std::uint32_t>(nodes_.size() - 1);
    }
    const std::uint32_t rank = (hi - lo + 1) / 2;
    const std::uint32_t median = SelectRank(index, lo, hi, rank, coordinate);
    nodes_.push_back(KdNode{index[median], 0, 0});
    const auto node = static_cast<std::uint32_t>(nodes_.size() - 1);
    const std::uint32_t next = (coordinate + 1) % featureDim_;
    // Pre-order: the whole left subtree is appended before the right one.
    const std::uint32_t left = median > lo ? BuildRange(index, lo, median - 1, next) : 0;
    const std::uint32_t right = BuildRange(index, median + 1, hi, next);
    nodes_[node].left = left;
    nodes_[node].right = right;
    return node;
}

template <DistanceMetric M>
std::uint32_t KdTreeCloud<M>::SelectRank(std::vector<std::uint32_t>& index, std::uint32_t lo,
                                         std::uint32_t hi, std::uint32_t rank,
                                         std::uint32_t coordinate) const {
    while (lo != hi) {
        const std::uint32_t split = Partition(index, lo, hi, coordinate);
        const std::uint32_t lower = split - lo + 1;
        if (rank >= lower) {
            rank -= lower;
            lo = split + 1;
        } else {
            hi = split;
        }
    }
    return lo;
}

// Hoare's partition with the range's first element as the pivot. Which of
// several equal values ends up where decides the tree's shape and so the
// query's tie-breaks: the steps and their order are part of the behaviour.
template <DistanceMetric M>
std::uint32_t KdTreeCloud<M>::Partition(std::vector<std::uint32_t>& index, std::uint32_t lo,
                                        std::uint32_t hi, std::uint32_t coordinate) const {
    const std::uint32_t pivot = Value(index, lo, coordinate);
    std::uint32_t i = lo - 1;  // wraps for lo == 0; the first increment brings it back
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
void KdTreeCloud<M>::FindNearest(std::uint32_t node, const FeatureVector& query,
                                 std::uint32_t& bestDistance, std::uint32_t& bestIndex,
                                 std::uint32_t coordinate) const {
    if (nodes_.empty() || query.size() != featureDim_ || node >= nodes_.size() ||
        coordinate >= featureDim_) {
        return;
    }
    Descend(node, query.data(), bestDistance, bestIndex, coordinate);
}

template <DistanceMetric M>
void KdTreeCloud<M>::Evaluate(std::uint32_t pointIndex, const std::uint32_t* query,
                              std::uint32_t& bestDistance, std::uint32_t& bestIndex) const {
    if (Distance<M>::Bounded(query, points_[pointIndex].features.data(), featureDim_, bestDistance,
                             bestDistance)) {
        bestIndex = pointIndex;
    }
}

// Recurses into near sides only and loops into far sides, so the call depth
// is at most the tree's depth.
template <DistanceMetric M>
void KdTreeCloud<M>::Descend(std::uint32_t node, const std::uint32_t* query,
                             std::uint32_t& bestDistance, std::uint32_t& bestIndex,
                             std::uint32_t coordinate) const {
    for (;;) {
        const KdNode current = nodes_[node];
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
        // The squared split difference bounds every metric, also L1 and Linf,
        // where it is looser than their own distance and makes them approximate.
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

template class KdTreeCloud<DistanceMetric::L1>;
template class KdTreeCloud<DistanceMetric::L2>;
template class KdTreeCloud<DistanceMetric::Linf>;

}  // namespace weftloom
