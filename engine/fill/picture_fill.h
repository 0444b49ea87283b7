#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/coherent_search.h"
#include "engine/image.h"
#include "engine/progress.h"

namespace weftloom {

// The pixels of a picture to fill: one byte per pixel, non-zero where the
// picture's pixel is to be made anew.
using HoleMask = std::vector<std::uint8_t>;

// The hole a mask picture marks: a pixel whose grey value (the mean of its
// first three channels; a one- or two-channel mask its first) is above 127,
// unless the mask has alpha and the pixel is transparent (alpha below 128).
HoleMask HoleFromMask(const Image& mask);
// The hole of a picture's own transparency: its pixels whose alpha is below
// 128 (none without alpha).
HoleMask HoleFromTransparency(const Image& picture);
// The number of hole pixels.
std::uint64_t HolePixels(const HoleMask& hole);

// Why a fill could not be made; kNone: it was.
enum class FillRefusal {
    kNone,
    kBadPicture,     // not 3 or 4 bytes a pixel, or empty
    kMaskSize,       // the mask is not the picture's size
    kEmptyHole,      // nothing to fill
    kNothingToCopy,  // no pixel outside the hole (within the source limit) to copy from
    kNotEnoughMemory,
    kAborted,
};
// The message of a refusal, in the system's words.
const char* FillRefusalText(FillRefusal refusal);

// Fills the hole of a picture with the picture's own pixels, so that the
// filled part continues the texture around it and its edge does not show.
// The pixels outside the hole never change. Each filled pixel is copied from
// a known pixel (sourceMap keeps where from), chosen coarse to fine over a
// pyramid by comparing whole windows of known and already filled pixels; see
// picture_fill.cpp. The same picture, hole, seed and settings give the same
// bytes on every machine and thread count.
//
// Progress goes to progressCallback on the running thread, in the phases of a
// synthesis (a row report carries the row of the level being filled, the
// picture's width wide, for a preview); Abort may be called from any thread.
class PictureFill {
  public:
    std::uint32_t randomSeed = 1;
    // Only pixels within this many pixels of the hole are copied (0: the
    // whole picture).
    std::uint32_t sourceLimit = 0;
    std::uint32_t threadCount = 0;  // 0: every core; the bytes do not depend on it
    // Whether filled pixels take full alpha (a fill of transparent areas).
    bool opaque = false;
    ProgressCallback progressCallback = nullptr;
    void* callbackContext = nullptr;

    // Fills picture's hole into result. False with the refusal, result
    // untouched, when it cannot.
    bool Fill(const Image& picture, const HoleMask& hole);
    void Abort() { abortRequested_.store(true, std::memory_order_relaxed); }

    FillRefusal refusal = FillRefusal::kNone;
    Image result;
    // Where each pixel of result comes from: itself outside the hole.
    SourceMap sourceMap;

  private:
    friend class FillLevel;
    bool Run(const Image& picture, const HoleMask& hole);
    bool Aborted() const { return abortRequested_.load(std::memory_order_relaxed); }
    void Report(const ProgressInfo& info) const;
    // Reports row y of a level width x height being filled (the pass's
    // rowsDone of rowsTotal rows).
    void ReportRow(std::int32_t levelNumber, const std::uint8_t* row, std::uint32_t width,
                   std::uint32_t height, std::uint32_t bpp, std::uint32_t y, std::uint32_t rowsDone,
                   std::uint32_t rowsTotal) const;

    std::atomic<bool> abortRequested_{false};
    std::uint32_t levelCount_ = 0;
    // The overall count, in pixels of passes, and the divisor that keeps it
    // within a report's range.
    std::uint64_t overallDone_ = 0;
    std::uint64_t overallTotal_ = 0;
    std::uint64_t overallScale_ = 1;
};

// The peak memory a fill of a width x height picture is estimated to need,
// in bytes (an upper bound, the picture itself and its result included).
std::uint64_t EstimateFillMemory(std::uint32_t width, std::uint32_t height,
                                 std::uint32_t bytesPerPixel);

}  // namespace weftloom
