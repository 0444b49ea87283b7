#include "engine/coherent/courses.h"

#include "engine/coherent/course_strips.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "engine/coherent_search.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "search/random_generator.h"

namespace weftloom::coherent {
namespace {

constexpr std::uint32_t kCourse = 16;  // a course's height, mortar included
constexpr std::uint32_t kMortar = 3;   // the mortar line's rows, first in each course
constexpr std::uint32_t kBrick = 24;   // a brick's length, its joint included
constexpr std::uint8_t kMortarGrey = 200;

bool MortarRow(std::uint32_t y) {
    return y % kCourse < kMortar;
}

// A wall in running bond: courses of bricks of many colours, each pixel
// with a little noise, under mortar lines and between mortar joints. Fading:
// the mortar darkens down the wall, as a photograph's light may, so that its
// last row leads into its first more abruptly than any row into the next
// (it does not tile).
Image BrickWall(std::uint32_t width, std::uint32_t height, bool fading = false) {
    Image wall;
    wall.Allocate(width, height, 3);
    RandomGenerator random(7);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint32_t course = y / kCourse;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t along = x + (course % 2) * kBrick / 2;
            std::uint8_t* p = wall.PixelAt(x, y);
            if (MortarRow(y) || along % kBrick < 2) {
                p[0] = p[1] = p[2] = fading ? static_cast<std::uint8_t>(240 - 2 * y) : kMortarGrey;
                continue;
            }
            const std::uint32_t brick = course * 97 + along / kBrick;
            const std::uint32_t noise = random.Next() % 21;
            p[0] = static_cast<std::uint8_t>(110 + brick * 37 % 60 + noise);
            p[1] = static_cast<std::uint8_t>(40 + brick * 53 % 40 + noise);
            p[2] = static_cast<std::uint8_t>(30 + brick * 11 % 30 + noise);
        }
    }
    return wall;
}

Image Transposed(const Image& image) {
    Image turned;
    turned.Allocate(image.height, image.width, image.bytesPerPixel);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            std::copy_n(image.PixelAt(x, y), image.bytesPerPixel, turned.PixelAt(y, x));
        }
    }
    return turned;
}

// Noise, or bright round spots on a dark ground: no courses either way.
Image Noise(std::uint32_t side) {
    Image image;
    image.Allocate(side, side, 3);
    RandomGenerator random(3);
    for (std::uint8_t& v : image.pixels) {
        v = static_cast<std::uint8_t>(random.Next());
    }
    return image;
}
Image Spots(std::uint32_t side) {
    Image image;
    image.Allocate(side, side, 3);
    RandomGenerator random(5);
    std::vector<std::pair<std::int32_t, std::int32_t>> centres;
    for (int i = 0; i < 12; ++i) {
        centres.emplace_back(random.Next() % side, random.Next() % side);
    }
    for (std::uint32_t y = 0; y < side; ++y) {
        for (std::uint32_t x = 0; x < side; ++x) {
            bool spot = false;
            for (const auto& [cx, cy] : centres) {
                const std::int32_t dx = static_cast<std::int32_t>(x) - cx;
                const std::int32_t dy = static_cast<std::int32_t>(y) - cy;
                spot = spot || dx * dx + dy * dy < 36;
            }
            std::uint8_t* p = image.PixelAt(x, y);
            p[0] = spot ? 230 : 40;
            p[1] = spot ? 190 : 30;
            p[2] = static_cast<std::uint8_t>(random.Next() % 30);
        }
    }
    return image;
}

TEST(Courses, TellsWallsAndBoardsFromTexturesWithoutCourses) {
    const struct {
        const char* name;
        Image sample;
        CourseAxis axis;
    } cases[] = {
        {"a brick wall", BrickWall(96, 96), CourseAxis::Rows},
        {"the wall turned", Transposed(BrickWall(96, 96)), CourseAxis::Columns},
        {"noise", Noise(64), CourseAxis::None},
        {"spots", Spots(64), CourseAxis::None},
        {"a wall too small to plan", BrickWall(6, 6), CourseAxis::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectCourses(c.sample), c.axis) << c.name;
    }
}

// A step of the plan from sample row `from` to row `to` leaves no course
// cut: it goes on to the next row; it leaves a course's edge (its last
// brick row or the mortar) for another course's edge (the mortar or its
// first brick row); or, to fit the output's height, it takes a row twice
// or leaves one out, within the mortar or within the bricks of a course.
bool KeepsCoursesWhole(std::uint32_t from, std::uint32_t to) {
    const bool edges = (from % kCourse == kCourse - 1 || MortarRow(from)) &&
                       (MortarRow(to) || to % kCourse == kMortar);
    const bool stretch = (to == from || to == from + 2) && from / kCourse == to / kCourse &&
                         !MortarRow(from) && !MortarRow(to);
    return to == from + 1 || edges || stretch;
}

// A wall of whole courses, which tiles, and one cut off in a course, which
// does not: there the walk must jump at the end, and never go into the
// bricks of the cut course.
TEST(Courses, PlansWholeCoursesThatCloseWhereTheOutputWraps) {
    for (const std::uint32_t height : {96u, 90u}) {
        const Image wall = BrickWall(64, height, height == 90);
        for (const std::uint32_t lines : {200u, 192u, 96u, 37u}) {
            for (std::uint32_t seed = 1; seed <= 4; ++seed) {
                RandomGenerator random(seed);
                const Courses courses = Courses::Plan(wall, CourseAxis::Rows, lines, random);
                const std::vector<std::uint32_t>& plan = courses.Lines();
                ASSERT_EQ(plan.size(), lines);
                std::set<std::uint32_t> courseSeen;
                std::uint32_t stretches = 0;
                // The last row wraps to the first; an output of a few courses
                // may have too few to make up its height there.
                const std::uint32_t steps = lines >= 6 * kCourse ? lines : lines - 1;
                for (std::uint32_t i = 0; i < steps; ++i) {
                    const std::uint32_t next = plan[(i + 1) % lines];
                    EXPECT_TRUE(KeepsCoursesWhole(plan[i], next))
                        << height << " rows, " << lines << " lines, seed " << seed << ": row " << i
                        << " takes " << plan[i] << ", the next " << next;
                    EXPECT_LT(next, height / kCourse * kCourse + kMortar) << "the cut course";
                    stretches += next == plan[i] || next == plan[i] + 2 ? 1 : 0;
                    courseSeen.insert(plan[i] / kCourse);
                }
                // Courses keep their height but where the output's must be met:
                // at most once in each run between two breaks (the mortar's
                // rows, the bricks' rows).
                EXPECT_LE(stretches, lines % kCourse == 0 ? 0u : 2 * (lines / kCourse + 1))
                    << lines << " lines, seed " << seed;
                // Jumps spread the walk over the sample's courses, not one
                // (the fading wall's courses look too unlike for many).
                if (lines >= 96 && height == 96) {
                    EXPECT_GE(courseSeen.size(), 4u) << lines << " lines, seed " << seed;
                }
                RandomGenerator again(seed);
                EXPECT_EQ(Courses::Plan(wall, CourseAxis::Rows, lines, again).Lines(), plan);
            }
        }
    }
    RandomGenerator random(1);
    EXPECT_TRUE(Courses::Plan(BrickWall(64, 96), CourseAxis::None, 100, random).Lines().empty());
}

TEST(Courses, ForLevelHalvesTheFinestPlan) {
    const Image wall = BrickWall(64, 96);
    RandomGenerator random(2);
    const Courses courses = Courses::Plan(wall, CourseAxis::Rows, 100, random);
    const std::vector<std::uint32_t> level1 = courses.ForLevel(1, 50, 48);
    ASSERT_EQ(level1.size(), 50u);
    for (std::uint32_t i = 0; i < 50; ++i) {
        EXPECT_EQ(level1[i], courses.Lines()[2 * i] / 2);
    }
    // A coarse sample level shorter than the halved line: its last line.
    for (const std::uint32_t line : courses.ForLevel(3, 13, 2)) {
        EXPECT_LT(line, 2u);
    }
    EXPECT_TRUE(Courses{}.ForLevel(0, 10, 10).empty());
}

// The wall grown by the coherent search: every output row (column, for the
// wall turned) copies from one sample row, the mortar lines run unbroken
// through the whole output, and the bytes are the same on any thread count.
TEST(Courses, TheCoherentSearchLaysAWallsCoursesUnbroken) {
    for (const bool turned : {false, true}) {
        const Image wall = turned ? Transposed(BrickWall(72, 96)) : BrickWall(72, 96);
        SynthesisSettings settings;
        settings.searchMethod = SearchMethod::Coherent;
        Image first;
        for (const std::uint32_t threads : {1u, 2u}) {
            settings.threadCount = threads;
            TextureSynthesiser job;
            ApplySettings(settings, job);
            const std::uint32_t width = turned ? 150 : 200;
            const std::uint32_t height = turned ? 200 : 150;
            ASSERT_TRUE(job.Synthesise(wall, width, height));
            const Image& output = *job.result;
            if (threads == 1) {
                first = output;
            } else {
                EXPECT_EQ(output.pixels, first.pixels) << "turned " << turned;
                continue;
            }
            const SourceMap& map = job.sourceMap;
            const std::uint32_t lines = turned ? width : height;
            const std::uint32_t along = turned ? height : width;
            for (std::uint32_t line = 0; line < lines; ++line) {
                const auto source = [&](std::uint32_t i) {
                    return turned ? map.At(line, i).x : map.At(i, line).y;
                };
                std::uint32_t grey = 0;
                for (std::uint32_t i = 0; i < along; ++i) {
                    ASSERT_EQ(source(i), source(0)) << "turned " << turned << ", line " << line;
                    const std::uint8_t* p =
                        turned ? output.PixelAt(line, i) : output.PixelAt(i, line);
                    grey += p[0] == kMortarGrey && p[1] == kMortarGrey ? 1 : 0;
                }
                if (MortarRow(source(0))) {
                    EXPECT_EQ(grey, along) << "turned " << turned << ", a mortar line " << line;
                }
            }
        }
    }
}

// A wall's courses as the search may leave them: the left half of the
// output one piece, the right half two, stacked within each course, one on
// the upper rows and one on the lower (a stub at every joint of either).
struct StackedCourses {
    Image wall = BrickWall(64, 96);
    std::vector<std::uint32_t> lines;
    std::vector<bool> breaks;
    SourceMap map;
    Image output;

    StackedCourses(std::uint32_t width, std::uint32_t height) {
        RandomGenerator random(1);
        breaks = Courses::Plan(wall, CourseAxis::Rows, height, random).Breaks();
        map.width = width;
        map.height = height;
        map.positions.resize(std::size_t{width} * height);
        output.Allocate(width, height, 3);
        for (std::uint32_t y = 0; y < height; ++y) {
            lines.push_back((16 + y) % 96);
            const bool upper = (16 + y) % kCourse < kCourse / 2 + 2;
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t shift = x < width / 2 ? 5 : upper ? 11 : 27;
                Set(x, y, {(x + shift) % 64, lines[y]});
            }
        }
    }
    void Set(std::uint32_t x, std::uint32_t y, SourcePosition s) {
        map.positions[std::size_t{y} * map.width + x] = s;
        std::copy_n(wall.PixelAt(s.x, s.y), 3, output.PixelAt(x, y));
    }
    bool Run(
        std::uint64_t limit, const std::function<bool()>& aborted = [] { return false; }) {
        return CourseStrips::Run(wall, map, output, CourseAxis::Rows, lines, breaks, limit,
                                 aborted);
    }
};

TEST(CourseStrips, EachColumnOfACourseTakesOneStripOfTheSample) {
    StackedCourses run(40, 40);
    const SourceMap before = run.map;
    ASSERT_TRUE(run.Run(100000));
    std::uint32_t changed = 0;
    for (std::uint32_t y = 0; y < 40; ++y) {
        for (std::uint32_t x = 0; x < 40; ++x) {
            const SourcePosition& s = run.map.At(x, y);
            EXPECT_EQ(s.y, run.lines[y]) << "a source stays on its row's line";
            const std::uint8_t* p = run.output.PixelAt(x, y);
            EXPECT_TRUE(std::equal(p, p + 3, run.wall.PixelAt(s.x, s.y))) << x << ", " << y;
            changed += s == before.At(x, y) ? 0 : 1;
            // Within a course (rows between two breaks of the sample), a
            // column copies one column of the sample.
            if (y > 0 && !run.breaks[run.lines[y - 1]]) {
                EXPECT_EQ(s.x, run.map.At(x, y - 1).x) << "column " << x << ", row " << y;
            }
        }
    }
    EXPECT_GT(changed, 0u);
}

TEST(CourseStrips, KeepsTheSearchsSourcesWhereStripsWouldMakeTooLargeAPiece) {
    StackedCourses run(40, 40);
    const SourceMap before = run.map;
    const Image output = run.output;
    ASSERT_TRUE(run.Run(40));  // below the left half's piece in any course
    EXPECT_EQ(run.map.positions, before.positions);
    EXPECT_EQ(run.output.pixels, output.pixels);
    EXPECT_FALSE(run.Run(100000, [] { return true; }));
    EXPECT_EQ(run.map.positions, before.positions);
}

}  // namespace
}  // namespace weftloom::coherent
