#pragma once

#include <cstdint>

namespace weftloom {

// The texts a synthesis reports as its current operation; they live as long as
// the program, so a report's status pointer may be kept.
namespace status {
inline constexpr const char kInitialisingOutput[] = "Initialising output";
inline constexpr const char kBuildingOutputPyramid[] = "Building output pyramid";
inline constexpr const char kBuildingInputPyramid[] = "Building input pyramid";
inline constexpr const char kBuildingDataCloud[] = "Building data cloud";
inline constexpr const char kSynthesizing[] = "Synthesizing";
}  // namespace status

// What a synthesis is doing, in the order a run goes through it; each has its
// status text.
enum class ProgressPhase : std::int32_t {
    None = 0,  // a cleared record
    InitialisingOutput,
    BuildingOutputPyramid,
    BuildingInputPyramid,
    BuildingDataCloud,  // a level's search structure: the cloud, or the look-alike sets
    Synthesizing,
};

// The status text of phase; null for None.
constexpr const char* StatusText(ProgressPhase phase) {
    switch (phase) {
        case ProgressPhase::None:
            return nullptr;
        case ProgressPhase::InitialisingOutput:
            return status::kInitialisingOutput;
        case ProgressPhase::BuildingOutputPyramid:
            return status::kBuildingOutputPyramid;
        case ProgressPhase::BuildingInputPyramid:
            return status::kBuildingInputPyramid;
        case ProgressPhase::BuildingDataCloud:
            return status::kBuildingDataCloud;
        case ProgressPhase::Synthesizing:
            return status::kSynthesizing;
    }
    return nullptr;
}

// One progress report of a synthesis run. Built from a cleared record (row -1,
// everything else zero or null) with only the fields its kind sets. The record
// and the row it points to are valid only during the callback; a consumer that
// needs them later copies them.
struct ProgressInfo {
    // First byte of the output row just synthesised (per-row reports only).
    const std::uint8_t* rowPixels = nullptr;
    std::uint32_t levelWidth = 0;
    std::uint32_t levelHeight = 0;
    std::uint32_t bytesPerPixel = 0;
    std::int32_t row = -1;          // row just synthesised, -1 for none
    std::int32_t stepDone = 0;      // rows finished in the current operation
    std::int32_t stepTotal = 0;     // rows of the current operation, 0 for none
    std::int32_t overallDone = 0;   // output pixels synthesised so far, all levels
    std::int32_t overallTotal = 0;  // output pixels of all levels together
    // The current level's part of the overall count when it is not the
    // level's pixels (a search whose levels cost unlike their pixels shares
    // the count by cost); 0: its pixels.
    std::int32_t levelOverall = 0;
    const char* status = nullptr;  // one of the status texts
    void* context = nullptr;       // the job's callbackContext
    // The phase whose text status is, and for the phases that work on one
    // pyramid level (building its search, synthesising it) that level, 0 the
    // finest, with the number of levels; level -1 and levelCount 0 otherwise.
    ProgressPhase phase = ProgressPhase::None;
    std::int32_t level = -1;
    std::int32_t levelCount = 0;
};

// Receives every report, synchronously, on the thread that runs the synthesis.
// It must return quickly: the run waits for it.
using ProgressCallback = void (*)(const ProgressInfo* info);

}  // namespace weftloom
