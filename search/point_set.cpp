#include "search/point_set.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cstring>

namespace weftloom {

namespace {

constexpr std::align_val_t kRowBlockAlignment{64};
constexpr std::align_val_t kLargePageAlignment{std::size_t{2} << 20};

std::align_val_t AlignmentFor(std::size_t bytes) {
    return bytes >= kLargePageBlock ? kLargePageAlignment : kRowBlockAlignment;
}

}  // namespace

void* AllocateRows(std::size_t bytes) {
    void* block = ::operator new(bytes, AlignmentFor(bytes));
#ifdef MADV_HUGEPAGE
    if (bytes >= kLargePageBlock) {
        // Only advice: without large pages the rows work the same.
        madvise(block, bytes, MADV_HUGEPAGE);
    }
#endif
    return block;
}

void ReleaseRows(void* block, std::size_t bytes) {
    ::operator delete(block, AlignmentFor(bytes));
}

namespace {

bool AllBytes(const FeatureVector& values) {
    return std::all_of(values.begin(), values.end(), [](std::uint32_t v) { return v <= 255u; });
}

}  // namespace

bool PointSet::AddPoint(const FeatureVector& features, const FeatureVector& pixel) {
    if (features.size() != featureDim_ || pixel.size() != pixelDim_ || !AllBytes(features) ||
        !AllBytes(pixel)) {
        return false;
    }
    const std::vector<std::uint8_t> f(features.begin(), features.end());
    const std::vector<std::uint8_t> p(pixel.begin(), pixel.end());
    AddPoint(f.data(), p.data());
    return true;
}

void PointSet::AddPoint(const std::uint8_t* features, const std::uint8_t* pixel) {
    const std::size_t at = rows_.size();
    rows_.resize(at + stride_, 0);
    if (featureDim_ != 0) {
        std::memcpy(rows_.data() + at, features, featureDim_);
    }
    if (withSums_) {
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; i < featureDim_; ++i) {
            sum += features[i];
        }
        sums_.push_back(sum);
        if (SumGroupWidth(featureDim_) != 0) {
            groupSums_.resize(groupSums_.size() + kSumGroups);
            GroupSumsOf(features, featureDim_, groupSums_.data() + groupSums_.size() - kSumGroups);
        }
    }
    pixels_.insert(pixels_.end(), pixel, pixel + pixelDim_);
    ++count_;
}

void PointSet::Reserve(std::uint32_t points) {
    rows_.reserve(std::size_t{points} * stride_);
    pixels_.reserve(std::size_t{points} * pixelDim_);
    if (withSums_) {
        sums_.reserve(points);
        if (SumGroupWidth(featureDim_) != 0) {
            groupSums_.reserve(std::size_t{points} * kSumGroups);
        }
    }
}

FeatureVector PointSet::FeatureValues(std::uint32_t index) const {
    const std::uint8_t* row = Features(index);
    return FeatureVector(row, row + featureDim_);
}

FeatureVector PointSet::PixelValues(std::uint32_t index) const {
    const std::uint8_t* pixel = Pixel(index);
    return FeatureVector(pixel, pixel + pixelDim_);
}

ByteRows PointSet::QueryRow(const FeatureVector& query) const {
    ByteRows row;
    if (query.size() == featureDim_ && AllBytes(query)) {
        row.assign(std::max<std::size_t>(stride_, 1), 0);
        std::copy(query.begin(), query.end(), row.begin());
    }
    return row;
}

}  // namespace weftloom
