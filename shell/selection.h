#pragma once

#include <QLine>
#include <QPointF>
#include <QRect>

#include <cstdint>
#include <vector>

#include "engine/image.h"

namespace weftloom {

// The shapes a selection is drawn with.
enum class SelectionShape { Rectangle, Ellipse, Lasso };

// How a drawn shape changes the selection: it becomes the selection, is
// added to it (Shift) or taken away from it (Ctrl).
enum class SelectionMode { Replace, Add, Subtract };

// The pixels of a picture chosen by the user: one byte per pixel, row after
// row, 1 where the pixel is selected and 0 elsewhere, so that the mask can be
// handed to a fill as its hole. Shapes are given in picture coordinates, the
// picture's top-left corner at (0, 0) and one unit per pixel; a pixel belongs
// to a shape when its centre does (a rectangle: every pixel it touches).
// Not synchronised; user-interface thread only.
class Selection {
  public:
    // No pixel of a width x height picture selected.
    void Reset(std::uint32_t width, std::uint32_t height);

    std::uint32_t Width() const { return width_; }
    std::uint32_t Height() const { return height_; }
    bool IsEmpty() const { return count_ == 0; }
    std::uint64_t Count() const { return count_; }
    // Whether it is a selection of a picture of this size.
    bool Fits(const Image& image) const { return image.width == width_ && image.height == height_; }
    bool Selected(std::uint32_t x, std::uint32_t y) const {
        return mask_[static_cast<std::size_t>(y) * width_ + x] != 0;
    }
    const std::vector<std::uint8_t>& Mask() const { return mask_; }
    // The smallest rectangle holding every selected pixel; empty when none is.
    QRect Bounds() const { return bounds_; }
    // Grows by one at each change: views redraw what they keep of it.
    std::uint64_t Revision() const { return revision_; }

    void SelectAll();
    void SelectNone();
    void Invert();
    // Changes the selection by a shape: a rectangle or an ellipse in the box
    // of points' first two points (the ellipse touching the box's pixels), a
    // lasso the polygon through every point (fewer than three select nothing).
    void Combine(SelectionShape shape, const std::vector<QPointF>& points, SelectionMode mode);

    // Where selected pixels meet unselected ones or the picture's edge, in
    // picture coordinates: horizontal and vertical lines along pixel edges,
    // each run of edges joined into one line.
    std::vector<QLine> Outline() const;

    // The pixels of the bounding rectangle, the unselected ones transparent
    // (four bytes a pixel; three when every pixel there is selected and the
    // picture has no alpha). Empty when nothing is selected or the picture
    // is not the selection's size.
    Image CopySelected(const Image& picture) const;

  private:
    // Recounts the selected pixels and their bounds after a change.
    void Update();

    std::vector<std::uint8_t> mask_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint64_t count_ = 0;
    QRect bounds_;
    std::uint64_t revision_ = 0;
};

// The pixels of picture inside rect (within the picture), as a picture of
// their own; empty when they are none.
Image CropImage(const Image& picture, const QRect& rect);

}  // namespace weftloom
