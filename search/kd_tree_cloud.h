#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "search/distance_kernels.h"
#include "search/distance_metric.h"
#include "search/feature_vector.h"
#include "search/point_set.h"

namespace weftloom {

// One node of a kd-tree: the index of the point it holds and the node indices
// of its children. The root is node 0, so 0 doubles as "no child".
struct KdNode {
    std::uint32_t point = 0;
    std::uint32_t left = 0;
    std::uint32_t right = 0;
};

// A point set with a balanced kd-tree over it. Points are added first, then
// Build puts the tree over them once; after that the cloud is read only and
// answers nearest-neighbour queries by descending the tree. The tree holds
// point indices, never copies; Build moves the feature rows into node order
// so that a descent reads them close together, and a point keeps its index.
// A node at depth d splits on coordinate d modulo featureDim at the median of
// its range (Hoare's selection, whose order of steps decides ties).
//
// The descent prunes with the squared difference along the split coordinate
// for every metric: exact under L2, approximate under L1 and Linf.
// Filled by one thread; a built tree may be queried from any number.
template <DistanceMetric M>
class KdTreeCloud : public PointSet {
  public:
    static constexpr std::uint32_t kNoMatch = 0xFFFFFFFFu;

    KdTreeCloud(std::uint32_t featureDim, std::uint32_t pixelDim)
        : PointSet(featureDim, pixelDim),
          kernel_(ChooseKernel(M, RowStride())),
          stage_(SumMayWrap(M, RowStride()) ? nullptr : StageKernelFor(M, BestSimdLevel())) {}

    // As PointSet::AddPoint, and false (or nothing) once the tree is built.
    bool AddPoint(const FeatureVector& features, const FeatureVector& pixel) {
        return !built_ && PointSet::AddPoint(features, pixel);
    }
    void AddPoint(const std::uint8_t* features, const std::uint8_t* pixel) {
        if (!built_) {
            PointSet::AddPoint(features, pixel);
        }
    }

    const std::vector<KdNode>& Nodes() const { return nodes_; }

    // Builds the tree over all points (nothing for an empty cloud). Called
    // once. A set abort flag (read as the tree grows, set from any thread)
    // stops it and returns false; the cloud then finds nothing.
    bool Build(const std::atomic<bool>* abort = nullptr);

    // Descends from node (the caller passes 0, the root, and coordinate 0),
    // improving bestDistance and bestIndex, which the caller sets to kNoMatch
    // beforehand. bestIndex stays kNoMatch when the cloud is empty. A query
    // whose length differs from featureDim, or with an element above 255,
    // finds nothing.
    void FindNearest(std::uint32_t node, const FeatureVector& query, std::uint32_t& bestDistance,
                     std::uint32_t& bestIndex, std::uint32_t coordinate) const;

    // The same descent from the root for a zero-padded query row of RowStride() bytes.
    void FindNearestIndex(const std::uint8_t* query, std::uint32_t& bestDistance,
                          std::uint32_t& bestIndex) const {
        if (!nodes_.empty()) {
            Descend(0, query, bestDistance, bestIndex, 0);
        }
    }

  private:
    std::uint32_t BuildRange(std::vector<std::uint32_t>& index, std::uint32_t lo, std::uint32_t hi,
                             std::uint32_t coordinate, const std::atomic<bool>* abort);
    std::uint32_t Partition(std::vector<std::uint32_t>& index, std::uint32_t lo, std::uint32_t hi,
                            std::uint32_t coordinate) const;
    void RecordSplits(std::uint32_t node, std::uint32_t coordinate);
    void Descend(std::uint32_t node, const std::uint8_t* query, std::uint32_t& bestDistance,
                 std::uint32_t& bestIndex, std::uint32_t coordinate) const;

    std::vector<KdNode> nodes_;
    // Each node's split value (its row at the coordinate of its depth), kept
    // beside the nodes so that a descent from the root reads no row for it.
    std::vector<std::uint8_t> splits_;
    // One past the last node of each node's subtree (pre-order keeps a
    // subtree's nodes, and so their rows, together).
    std::vector<std::uint32_t> subtreeEnd_;
    DistanceKernel kernel_;
    StageKernel stage_;  // null when the sum may wrap
    bool built_ = false;
};

extern template class KdTreeCloud<DistanceMetric::L1>;
extern template class KdTreeCloud<DistanceMetric::L2>;
extern template class KdTreeCloud<DistanceMetric::Linf>;

}  // namespace weftloom
