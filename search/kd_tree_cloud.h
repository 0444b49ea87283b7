#pragma once

#include <cstdint>
#include <vector>

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
// point indices, never copies, and points never move. A node at depth d splits
// on coordinate d modulo featureDim at the median of its range.
//
// The descent prunes with the squared difference along the split coordinate
// for every metric: exact under L2, approximate under L1 and Linf.
// Owned and used by one level pass on one thread.
template <DistanceMetric M>
class KdTreeCloud : public PointSet {
  public:
    static constexpr std::uint32_t kNoMatch = 0xFFFFFFFFu;

    using PointSet::PointSet;

    // As PointSet::AddPoint, and false once the tree is built.
    bool AddPoint(const FeatureVector& features, const FeatureVector& pixel) {
        return !built_ && PointSet::AddPoint(features, pixel);
    }

    const std::vector<KdNode>& Nodes() const { return nodes_; }

    // Builds the tree over all points (nothing for an empty cloud). Called once.
    void Build();

    // Descends from node (the caller passes 0, the root, and coordinate 0),
    // improving bestDistance and bestIndex, which the caller sets to kNoMatch
    // beforehand. bestIndex stays kNoMatch when the cloud is empty. A query
    // whose length differs from featureDim finds nothing.
    void FindNearest(std::uint32_t node, const FeatureVector& query, std::uint32_t& bestDistance,
                     std::uint32_t& bestIndex, std::uint32_t coordinate) const;

  private:
    std::uint32_t Value(const std::vector<std::uint32_t>& index, std::uint32_t position,
                        std::uint32_t coordinate) const {
        return points_[index[position]].features[coordinate];
    }
    std::uint32_t BuildRange(std::vector<std::uint32_t>& index, std::uint32_t lo, std::uint32_t hi,
                             std::uint32_t coordinate);
    std::uint32_t SelectRank(std::vector<std::uint32_t>& index, std::uint32_t lo, std::uint32_t hi,
                             std::uint32_t rank, std::uint32_t coordinate) const;
    std::uint32_t Partition(std::vector<std::uint32_t>& index, std::uint32_t lo, std::uint32_t hi,
                            std::uint32_t coordinate) const;
    void Descend(std::uint32_t node, const std::uint32_t* query, std::uint32_t& bestDistance,
                 std::uint32_t& bestIndex, std::uint32_t coordinate) const;
    void Evaluate(std::uint32_t pointIndex, const std::uint32_t* query, std::uint32_t& bestDistance,
                  std::uint32_t& bestIndex) const;

    std::vector<KdNode> nodes_;
    bool built_ = false;
};

extern template class KdTreeCloud<DistanceMetric::L1>;
extern template class KdTreeCloud<DistanceMetric::L2>;
extern template class KdTreeCloud<DistanceMetric::Linf>;

}  // namespace weftloom
