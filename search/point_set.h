#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "search/feature_vector.h"
#include "search/group_sums.h"

namespace weftloom {

// Blocks of at least this many bytes are asked for in large pages.
constexpr std::size_t kLargePageBlock = std::size_t{4} << 20;

// Allocates with 64-byte alignment, so that every row starts on a cache line.
// A large block is aligned to a large page and offered to the kernel for
// large pages: a query reads a few lines of thousands of scattered rows, and
// with small pages nearly every one of them would miss the address cache.
void* AllocateRows(std::size_t bytes);
void ReleaseRows(void* block, std::size_t bytes);

template <class T>
struct AlignedAllocator {
    using value_type = T;
    AlignedAllocator() = default;
    template <class U>
    explicit AlignedAllocator(const AlignedAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(AllocateRows(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) { ReleaseRows(p, n * sizeof(T)); }
    friend bool operator==(const AlignedAllocator&, const AlignedAllocator&) { return true; }
};

using ByteRows = std::vector<std::uint8_t, AlignedAllocator<std::uint8_t>>;

// The points of a data cloud in insertion order; a point's index is its
// position. Every point's features are featureDim bytes (channel values
// 0..255) kept in one contiguous row of RowStride() bytes, zero-padded to a
// multiple of 64 and 64-byte aligned; its pixel is pixelDim bytes. Points are
// never changed or removed once added, so search structures refer to them by
// index. Filled by one thread, then read by any number.
class PointSet {
  public:
    static constexpr std::uint32_t kRowAlignment = 64;

    // withSums: keep the sum of each point's features (see Sums).
    PointSet(std::uint32_t featureDim, std::uint32_t pixelDim, bool withSums = false)
        : withSums_(withSums),
          featureDim_(featureDim),
          pixelDim_(pixelDim),
          stride_((featureDim + kRowAlignment - 1) / kRowAlignment * kRowAlignment) {}

    // Appends copies of both vectors; false (nothing stored) when a length
    // differs from the set's dimensions or an element is above 255.
    bool AddPoint(const FeatureVector& features, const FeatureVector& pixel);

    // Appends featureDim feature bytes and pixelDim pixel bytes.
    void AddPoint(const std::uint8_t* features, const std::uint8_t* pixel);

    // Makes room for `points` points in all, so that filling allocates once.
    void Reserve(std::uint32_t points);

    std::uint32_t PointCount() const { return count_; }
    std::uint32_t FeatureDim() const { return featureDim_; }
    std::uint32_t PixelDim() const { return pixelDim_; }
    std::uint32_t RowStride() const { return stride_; }
    const std::uint8_t* Features(std::uint32_t index) const {
        return rows_.data() + std::size_t{RowOf(index)} * stride_;
    }
    const std::uint8_t* Pixel(std::uint32_t index) const {
        return pixels_.data() + std::size_t{index} * pixelDim_;
    }
    // The sum of each point's feature bytes, by index, in a set that keeps
    // them (else null). Two rows whose sums lie far apart lie far apart: a
    // linear scan rules many points out by their sums before it reads their
    // rows.
    const std::uint32_t* Sums() const { return withSums_ ? sums_.data() : nullptr; }
    // Each point's kSumGroups group sums (see group_sums.h), in a set that
    // keeps sums and whose rows are short enough for them (else null).
    const std::uint16_t* GroupSums() const {
        return withSums_ && SumGroupWidth(featureDim_) != 0 ? groupSums_.data() : nullptr;
    }

    // A point's features and pixel as vectors, for tests and the vector API.
    FeatureVector FeatureValues(std::uint32_t index) const;
    FeatureVector PixelValues(std::uint32_t index) const;

    // A zero-padded row of RowStride() bytes holding query, or empty when its
    // length differs from featureDim or an element is above 255.
    ByteRows QueryRow(const FeatureVector& query) const;

  protected:
    // Where a point's row lies; a kd-tree puts its rows in node order.
    std::uint32_t RowOf(std::uint32_t index) const {
        return rowOfPoint_.empty() ? index : rowOfPoint_[index];
    }

    ByteRows rows_;
    std::vector<std::uint8_t> pixels_;
    std::vector<std::uint32_t> rowOfPoint_;
    std::vector<std::uint32_t> sums_;
    std::vector<std::uint16_t> groupSums_;
    bool withSums_;
    std::uint32_t count_ = 0;
    std::uint32_t featureDim_;
    std::uint32_t pixelDim_;
    std::uint32_t stride_;
};

}  // namespace weftloom
