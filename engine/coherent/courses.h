#pragma once

// Samples laid in courses: a brick wall's rows of bricks, stacked planks,
// the grain of a board. Their lines (mortar, joints, grain) run the whole
// width of the sample, and a texture grown from them shows its worst fault
// where two pieces meet a few pixels apart: a course that steps, a mortar
// line broken off. Such a sample's rows are laid out first, as a texture of
// one dimension: the output's rows take the sample's rows in runs, jumping
// only between rows whose surroundings look alike (as Efros and Leung's
// non-parametric sampling, or Ashikhmin's continuation, does for pixels),
// and every pixel of an output row then copies from its row's sample row;
// the search chooses only the column. The lines of the courses then run
// through the whole output, unbroken, while the pieces along them still
// come from all over the sample. The same holds of columns for a sample
// laid the other way.

#include <cstdint>
#include <vector>

#include "engine/image.h"
#include "search/random_generator.h"

namespace weftloom::coherent {

// The direction of a sample's courses.
enum class CourseAxis : std::uint8_t {
    None,     // not laid in courses: the search is free
    Rows,     // lines run along the rows (a brick wall)
    Columns,  // lines run down the columns
};

// Whether, and which way, sample is laid in courses: the means of its rows
// (or columns) carry a fifth of its variance or more, and of its change from
// one row to the next (one column to the next) more than 0.15 and at least
// twice as much as the other way does. Noise, spots, stones
// and ripples fall well short; brick walls and planks pass.
CourseAxis DetectCourses(const Image& sample);

// The output's lines (rows for CourseAxis::Rows), each tied to one line of
// the sample.
class Courses {
  public:
    // Free: no line tied.
    Courses() = default;

    // Plans the outputLines lines of the finest output level from the
    // finest sample level, with draws from random (none when axis is None):
    // runs of consecutive sample lines, a jump between two lines only where
    // their surroundings (a twelfth of the sample on either side) look alike,
    // chosen so that the last line leads into the first as the output wraps.
    static Courses Plan(const Image& sample, CourseAxis axis, std::uint32_t outputLines,
                        RandomGenerator& random);

    CourseAxis Axis() const { return axis_; }
    const std::vector<std::uint32_t>& Lines() const { return lines_; }
    const std::vector<bool>& Breaks() const { return breaks_; }

    // The sample line of each output line of a coarser level (level 0 the
    // finest), for an output level outputLines long and a sample level
    // sampleLines long; empty when free.
    std::vector<std::uint32_t> ForLevel(std::uint32_t level, std::uint32_t outputLines,
                                        std::uint32_t sampleLines) const;

    // Heap bytes Plan takes at its peak, for a sample and output that many
    // lines long; what the plan and a level's lines keep through the run.
    static std::uint64_t PlanBytes(std::uint32_t sampleLines, std::uint32_t outputLines);
    static std::uint64_t KeptBytes(std::uint32_t outputLines);

  private:
    CourseAxis axis_ = CourseAxis::None;
    std::vector<std::uint32_t> lines_;
    std::vector<bool> breaks_;
};

}  // namespace weftloom::coherent
