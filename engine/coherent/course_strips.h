#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/coherent/courses.h"
#include "engine/coherent_search.h"
#include "engine/image.h"

namespace weftloom::coherent {

// The finest level of a texture laid in courses (see Courses), mended so
// that a course's bricks stay whole. The search chooses each pixel's
// column, and a piece may end part way up a course: a joint of the brick
// above it stops short (a stub), or a brick grows into its neighbour. Here
// every column of a course takes one source column over the course's whole
// height, a strip of the sample, and the strips change where a change shows
// least: a shortest path along the course, over the sources the search left
// in each column, whose steps cost the seam between two strips over the
// course's height (Kwatra et al.'s cost, "Graphcut Textures", 2003) and
// whose columns cost the pixels that lose the source the search gave them,
// as Efros and Freeman's minimum-error boundary cut ("Image Quilting",
// 2001) runs through an overlap. A course is a run of output lines between
// two breaks of the sample; the path closes round the wrap-around edge. A
// course whose strips would make a piece larger than pieceLimit pixels
// (counted as the search counts pieces) keeps the search's sources. One
// thread; the result depends only on its inputs.
class CourseStrips {
  public:
    // The lines of map (rows for CourseAxis::Rows, as lines holds them for
    // each output line) whose sources lie on the sample lines `lines`;
    // sampleBreaks: the sample's lines after which it changes abruptly.
    // Writes the output's pixels that change. False when aborted() says so,
    // between two courses (the map and output then agree).
    static bool Run(const Image& sample, SourceMap& map, Image& output, CourseAxis axis,
                    const std::vector<std::uint32_t>& lines, const std::vector<bool>& sampleBreaks,
                    std::uint64_t pieceLimit, const std::function<bool()>& aborted);

    // Heap bytes Run takes at its peak for an output of width x height, its
    // courses along either side.
    static std::uint64_t PeakBytes(std::uint32_t width, std::uint32_t height,
                                   std::uint64_t pieceLimit);
};

}  // namespace weftloom::coherent
