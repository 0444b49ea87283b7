#include "search/kd_tree_cloud.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

namespace weftloom {

template <DistanceMetric M>
bool KdTreeCloud<M>::Build(const std::atomic<bool>* abort) {
    built_ = true;
    if (count_ == 0 || featureDim_ == 0) {
        return true;
    }
    std::vector<std::uint32_t> index(count_);
    std::iota(index.begin(), index.end(), 0u);
    nodes_.reserve(count_);
    BuildRange(index, 0, count_ - 1, 0, abort);
    if (nodes_.size() != count_) {
        std::vector<KdNode>().swap(nodes_);
        return false;
    }

    // Node i's point moves to row i; rowOfPoint_ remembers where each went.
    ByteRows ordered(rows_.size());
    rowOfPoint_.assign(count_, 0);
    for (std::uint32_t node = 0; node < count_; ++node) {
        const std::uint32_t point = nodes_[node].point;
        std::memcpy(ordered.data() + std::size_t{node} * stride_,
                    rows_.data() + std::size_t{point} * stride_, stride_);
        rowOfPoint_[point] = node;
    }
    rows_.swap(ordered);
    splits_.assign(count_, 0);
    RecordSplits(0, 0);
    // Children follow their parent in pre-order, so sizes add up backwards.
    subtreeEnd_.assign(count_, 0);
    for (std::uint32_t node = count_; node-- > 0;) {
        const KdNode& n = nodes_[node];
        subtreeEnd_[node] = std::max({node + 1, n.left != 0 ? subtreeEnd_[n.left] : 0u,
                                      n.right != 0 ? subtreeEnd_[n.right] : 0u});
    }
    return true;
}

template <DistanceMetric M>
void KdTreeCloud<M>::RecordSplits(std::uint32_t node, std::uint32_t coordinate) {
    // Depth first with an explicit stack: a tree of one coordinate may be deep.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pending = {{node, coordinate}};
    while (!pending.empty()) {
        const auto [at, c] = pending.back();
        pending.pop_back();
        splits_[at] = rows_[std::size_t{at} * stride_ + c];
        const std::uint32_t next = c + 1 == featureDim_ ? 0 : c + 1;
        if (nodes_[at].left != 0) {
            pending.emplace_back(nodes_[at].left, next);
        }
        if (nodes_[at].right != 0) {
            pending.emplace_back(nodes_[at].right, next);
        }
    }
}

template <DistanceMetric M>
std::uint32_t KdTreeCloud<M>::BuildRange(std::vector<std::uint32_t>& index, std::uint32_t lo,
                                         std::uint32_t hi, std::uint32_t coordinate,
                                         const std::atomic<bool>* abort) {
    // An abort leaves the tree short of nodes, which Build sees.
    if (abort != nullptr && abort->load(std::memory_order_relaxed)) {
        return 0;
    }
    if (lo == hi) {
        nodes_.push_back(KdNode{index[lo], 0, 0});
        return static_cast<std::uint32_t>(nodes_.size() - 1);
    }
    // The median by Hoare selection: partition, keep the side holding the rank.
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
    nodes_.push_back(KdNode{index[median], 0, 0});
    const auto node = static_cast<std::uint32_t>(nodes_.size() - 1);
    const std::uint32_t next = (coordinate + 1) % featureDim_;
    // Pre-order: the whole left subtree is appended before the right one.
    const std::uint32_t left = median > lo ? BuildRange(index, lo, median - 1, next, abort) : 0;
    const std::uint32_t right = median < hi ? BuildRange(index, median + 1, hi, next, abort) : 0;
    nodes_[node].left = left;
    nodes_[node].right = right;
    return node;
}

// Hoare's partition with the range's first element as the pivot. Which of
// several equal values ends up where decides the tree's shape and so the
// query's tie-breaks: the steps and their order are part of the behaviour.
template <DistanceMetric M>
std::uint32_t KdTreeCloud<M>::Partition(std::vector<std::uint32_t>& index, std::uint32_t lo,
                                        std::uint32_t hi, std::uint32_t coordinate) const {
    // Before Build finishes, rows are still in insertion order.
    const auto value = [&](std::uint32_t position) {
        return rows_[std::size_t{index[position]} * stride_ + coordinate];
    };
    const std::uint8_t pivot = value(lo);
    std::uint32_t i = lo - 1;  // wraps for lo == 0; the first increment brings it back
    std::uint32_t j = hi + 1;
    for (;;) {
        do {
            --j;
        } while (value(j) > pivot);
        do {
            ++i;
        } while (value(i) < pivot);
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
    const ByteRows row = QueryRow(query);
    if (nodes_.empty() || row.empty() || node >= nodes_.size() || coordinate >= featureDim_) {
        return;
    }
    Descend(node, row.data(), bestDistance, bestIndex, coordinate);
}

// The literal recursion (near side first, then the node's own point and the
// far side while the split bound allows) with an explicit stack. Node i's
// features are row i, so the split value is the node's own row at coordinate.
template <DistanceMetric M>
void KdTreeCloud<M>::Descend(std::uint32_t node, const std::uint8_t* query,
                             std::uint32_t& bestDistance, std::uint32_t& bestIndex,
                             std::uint32_t coordinate) const {
    struct Pending {
        std::uint32_t node;
        std::uint32_t bound;
        std::uint32_t farChild;
        std::uint32_t coordinate;  // the far child's
    };
    // A balanced tree over at most 2^32 points is at most 33 levels deep.
    Pending stack[40];
    std::uint32_t depth = 0;
    const std::uint8_t* rows = rows_.data();
    // From the root, every node splits on the coordinate of its depth.
    const bool recorded = node == 0 && coordinate == 0;
    // A small subtree's rows are measured together, without a jump per row,
    // against the best distance of that moment: a distance dropped there is at
    // or above every later best, and one kept is exact, so each evaluation
    // below decides as the literal one would.
    constexpr std::uint32_t kCached = 256;
    std::uint32_t cached[kCached];
    std::uint32_t cacheBegin = 0;
    std::uint32_t cacheEnd = 0;
    const auto measureSubtree = [&](std::uint32_t root) {
        const std::uint32_t end = subtreeEnd_[root];
        std::uint32_t candidates[kCached];
        std::uint32_t partials[kCached];
        const std::uint32_t count = end - root;
        for (std::uint32_t k = 0; k < count; ++k) {
            candidates[k] = root + k;
            partials[k] = 0;
        }
        std::uint32_t left = count;
        for (std::size_t offset = 0; offset < stride_ && left != 0; offset += 64) {
            left = stage_(query, rows, stride_, offset, candidates, partials, left, bestDistance);
        }
        std::fill_n(cached, count, 0xFFFFFFFFu);
        for (std::uint32_t k = 0; k < left; ++k) {
            cached[candidates[k] - root] = partials[k];
        }
        cacheBegin = root;
        cacheEnd = end;
    };
    const auto evaluate = [&](std::uint32_t at) {
        const std::uint32_t d =
            at >= cacheBegin && at < cacheEnd
                ? cached[at - cacheBegin]
                : kernel_(query, rows + std::size_t{at} * stride_, stride_, bestDistance);
        if (d < bestDistance) {
            bestDistance = d;
            bestIndex = nodes_[at].point;
        }
    };
    for (;;) {
        // Go down the near sides, leaving each node's remaining work on the stack.
        for (;;) {
            if (stage_ != nullptr && (node < cacheBegin || node >= cacheEnd) &&
                subtreeEnd_[node] - node <= kCached) {
                measureSubtree(node);
            }
            const KdNode current = nodes_[node];
            if (current.left == 0 && current.right == 0) {
                evaluate(node);
                break;
            }
            const std::uint32_t next = coordinate + 1 == featureDim_ ? 0 : coordinate + 1;
            const std::uint32_t split =
                recorded ? splits_[node] : rows[std::size_t{node} * stride_ + coordinate];
            const std::uint32_t q = query[coordinate];
            // Chosen without jumps: either side is as likely.
            const bool right = q > split;
            const std::uint32_t nearChild = right ? current.right : current.left;
            const std::uint32_t farChild = right ? current.left : current.right;
            const std::uint32_t diff = right ? q - split : split - q;
            stack[depth++] = Pending{node, diff * diff, farChild, next};
            if (nearChild == 0) {
                break;
            }
            node = nearChild;
            coordinate = next;
        }
        // Back up until a far side is to be searched.
        for (;;) {
            if (depth == 0) {
                return;
            }
            const Pending pending = stack[--depth];
            if (pending.bound > bestDistance) {
                continue;
            }
            evaluate(pending.node);
            if (pending.bound > bestDistance || pending.farChild == 0) {
                continue;
            }
            node = pending.farChild;
            coordinate = pending.coordinate;
            break;
        }
    }
}

template class KdTreeCloud<DistanceMetric::L1>;
template class KdTreeCloud<DistanceMetric::L2>;
template class KdTreeCloud<DistanceMetric::Linf>;

}  // namespace weftloom
