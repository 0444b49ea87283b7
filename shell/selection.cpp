#include "shell/selection.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace weftloom {

namespace {

// The column of the first pixel whose centre is at or right of x.
std::int64_t FirstCentreFrom(double x) {
    return static_cast<std::int64_t>(std::ceil(x - 0.5));
}

}  // namespace

void Selection::Reset(std::uint32_t width, std::uint32_t height) {
    width_ = width;
    height_ = height;
    mask_.assign(static_cast<std::size_t>(width) * height, 0);
    Update();
}

void Selection::SelectAll() {
    std::fill(mask_.begin(), mask_.end(), std::uint8_t{1});
    Update();
}

void Selection::SelectNone() {
    std::fill(mask_.begin(), mask_.end(), std::uint8_t{0});
    Update();
}

void Selection::Invert() {
    for (std::uint8_t& pixel : mask_) {
        pixel = pixel != 0 ? 0 : 1;
    }
    Update();
}

void Selection::Combine(SelectionShape shape, const std::vector<QPointF>& points,
                        SelectionMode mode) {
    if (mode == SelectionMode::Replace) {
        std::fill(mask_.begin(), mask_.end(), std::uint8_t{0});
    }
    const std::uint8_t value = mode == SelectionMode::Subtract ? 0 : 1;
    // Sets pixels first up to end (picture columns, unclipped) of row y.
    const auto span = [this, value](std::int64_t y, std::int64_t first, std::int64_t end) {
        first = std::max<std::int64_t>(first, 0);
        end = std::min<std::int64_t>(end, width_);
        if (y < 0 || y >= height_ || first >= end) {
            return;
        }
        std::uint8_t* row = mask_.data() + static_cast<std::size_t>(y) * width_;
        std::fill(row + first, row + end, value);
    };
    if (shape == SelectionShape::Lasso) {
        if (points.size() >= 3) {
            // Even-odd rule on the pixels' centres, one row at a time.
            std::vector<double> crossings;
            for (std::uint32_t y = 0; y < height_; ++y) {
                const double centre = y + 0.5;
                crossings.clear();
                for (std::size_t i = 0; i < points.size(); ++i) {
                    const QPointF& a = points[i];
                    const QPointF& b = points[(i + 1) % points.size()];
                    if ((a.y() <= centre) != (b.y() <= centre)) {
                        crossings.push_back(a.x() +
                                            (centre - a.y()) * (b.x() - a.x()) / (b.y() - a.y()));
                    }
                }
                std::sort(crossings.begin(), crossings.end());
                for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
                    span(y, FirstCentreFrom(crossings[k]), FirstCentreFrom(crossings[k + 1]));
                }
            }
        }
    } else if (points.size() >= 2) {
        // The box's pixels: every pixel either corner lies in, and those between.
        const auto pixel = [](double v) { return static_cast<std::int64_t>(std::floor(v)); };
        const std::int64_t x0 = pixel(std::min(points[0].x(), points[1].x()));
        const std::int64_t x1 = pixel(std::max(points[0].x(), points[1].x()));
        const std::int64_t y0 = pixel(std::min(points[0].y(), points[1].y()));
        const std::int64_t y1 = pixel(std::max(points[0].y(), points[1].y()));
        const std::int64_t top = std::max<std::int64_t>(y0, 0);
        const std::int64_t bottom = std::min<std::int64_t>(y1, std::int64_t{height_} - 1);
        const double cx = (static_cast<double>(x0) + static_cast<double>(x1) + 1) / 2;
        const double cy = (static_cast<double>(y0) + static_cast<double>(y1) + 1) / 2;
        const double rx = static_cast<double>(x1 - x0 + 1) / 2;
        const double ry = static_cast<double>(y1 - y0 + 1) / 2;
        for (std::int64_t y = top; y <= bottom; ++y) {
            if (shape == SelectionShape::Rectangle) {
                span(y, x0, x1 + 1);
                continue;
            }
            const double dy = (static_cast<double>(y) + 0.5 - cy) / ry;
            if (dy * dy > 1) {
                continue;
            }
            const double half = rx * std::sqrt(1 - dy * dy);
            // Centres within cx +- half; the box's bounds hold against rounding.
            span(y, std::max(x0, FirstCentreFrom(cx - half)),
                 std::min(x1 + 1, static_cast<std::int64_t>(std::floor(cx + half - 0.5)) + 1));
        }
    }
    Update();
}

void Selection::Update() {
    ++revision_;
    count_ = 0;
    std::uint32_t left = width_;
    std::uint32_t right = 0;
    std::uint32_t top = height_;
    std::uint32_t bottom = 0;
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* row = mask_.data() + static_cast<std::size_t>(y) * width_;
        const std::uint8_t* first = std::find(row, row + width_, std::uint8_t{1});
        if (first == row + width_) {
            continue;
        }
        const std::uint8_t* last = std::find(std::make_reverse_iterator(row + width_),
                                             std::make_reverse_iterator(first), std::uint8_t{1})
                                       .base() -
                                   1;
        count_ += static_cast<std::uint64_t>(std::count(first, last + 1, std::uint8_t{1}));
        left = std::min(left, static_cast<std::uint32_t>(first - row));
        right = std::max(right, static_cast<std::uint32_t>(last - row));
        top = std::min(top, y);
        bottom = y;
    }
    bounds_ = count_ == 0 ? QRect()
                          : QRect(QPoint(static_cast<int>(left), static_cast<int>(top)),
                                  QPoint(static_cast<int>(right), static_cast<int>(bottom)));
}

std::vector<QLine> Selection::Outline() const {
    std::vector<QLine> lines;
    if (count_ == 0) {
        return lines;
    }
    const auto selected = [this](std::int64_t x, std::int64_t y) {
        return x >= 0 && y >= 0 && x < width_ && y < height_ &&
               Selected(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    };
    // Edges lie within the bounds and one pixel edge past them.
    const int left = bounds_.left();
    const int right = bounds_.right() + 1;
    const int top = bounds_.top();
    const int bottom = bounds_.bottom() + 1;
    // Along each line between rows y - 1 and y, runs of pixels that differ across it.
    for (int y = top; y <= bottom; ++y) {
        int start = -1;
        for (int x = left; x <= right; ++x) {
            const bool edge = x < right && selected(x, y - 1) != selected(x, y);
            if (edge && start < 0) {
                start = x;
            } else if (!edge && start >= 0) {
                lines.emplace_back(start, y, x, y);
                start = -1;
            }
        }
    }
    for (int x = left; x <= right; ++x) {
        int start = -1;
        for (int y = top; y <= bottom; ++y) {
            const bool edge = y < bottom && selected(x - 1, y) != selected(x, y);
            if (edge && start < 0) {
                start = y;
            } else if (!edge && start >= 0) {
                lines.emplace_back(x, start, x, y);
                start = -1;
            }
        }
    }
    return lines;
}

Image Selection::CopySelected(const Image& picture) const {
    if (count_ == 0 || !Fits(picture) || picture.IsEmpty()) {
        return {};
    }
    const auto left = static_cast<std::uint32_t>(bounds_.left());
    const auto top = static_cast<std::uint32_t>(bounds_.top());
    const auto width = static_cast<std::uint32_t>(bounds_.width());
    const auto height = static_cast<std::uint32_t>(bounds_.height());
    const bool whole = count_ == std::uint64_t{width} * height;
    if (whole && picture.bytesPerPixel != 4) {
        return CropImage(picture, bounds_);
    }
    Image copy;
    if (!copy.Allocate(width, height, 4)) {
        return {};
    }
    // Unselected pixels stay zero: transparent.
    const std::uint32_t bpp = picture.bytesPerPixel;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            if (!Selected(left + x, top + y)) {
                continue;
            }
            const std::uint8_t* from = picture.PixelAt(left + x, top + y);
            std::uint8_t* to = copy.PixelAt(x, y);
            to[0] = from[0];
            to[1] = bpp >= 3 ? from[1] : from[0];
            to[2] = bpp >= 3 ? from[2] : from[0];
            to[3] = bpp == 4 ? from[3] : 255;
        }
    }
    return copy;
}

Image CropImage(const Image& picture, const QRect& rect) {
    const QRect inside = rect.intersected(
        QRect(0, 0, static_cast<int>(picture.width), static_cast<int>(picture.height)));
    Image crop;
    if (inside.isEmpty() || picture.IsEmpty() ||
        !crop.Allocate(static_cast<std::uint32_t>(inside.width()),
                       static_cast<std::uint32_t>(inside.height()), picture.bytesPerPixel)) {
        return {};
    }
    const std::size_t rowBytes = std::size_t{crop.width} * crop.bytesPerPixel;
    for (std::uint32_t y = 0; y < crop.height; ++y) {
        std::memcpy(crop.PixelAt(0, y),
                    picture.PixelAt(static_cast<std::uint32_t>(inside.left()),
                                    static_cast<std::uint32_t>(inside.top()) + y),
                    rowBytes);
    }
    return crop;
}

}  // namespace weftloom
