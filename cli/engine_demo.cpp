// weftloom-demo: synthesises a texture from a generated sample and prints the
// engine's progress reports and the result's fingerprint. A quick way to see
// the engine work on a machine without any image files.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "engine/texture_synthesiser.h"

namespace {

weftloom::Image DemoSample() {
    weftloom::Image sample;
    sample.Allocate(48, 48, 3);
    for (std::uint32_t y = 0; y < 48; ++y) {
        for (std::uint32_t x = 0; x < 48; ++x) {
            std::uint8_t* p = sample.PixelAt(x, y);
            const bool brick = (y % 12 < 10) && ((x + (y / 12 % 2) * 8) % 16 < 14);
            p[0] = static_cast<std::uint8_t>(brick ? 170 + (x * 7 + y * 3) % 40 : 90);
            p[1] = static_cast<std::uint8_t>(brick ? 70 + (x * 5 + y * 11) % 30 : 88);
            p[2] = static_cast<std::uint8_t>(brick ? 50 + (x + y) % 20 : 84);
        }
    }
    return sample;
}

// Prints a line whenever the operation changes and every tenth of a level pass.
void PrintProgress(const weftloom::ProgressInfo* info) {
    static const char* lastStatus = nullptr;
    const bool newStatus = lastStatus == nullptr || std::strcmp(lastStatus, info->status) != 0;
    const bool milestone = info->stepTotal > 0 && info->row >= 0 &&
                           (info->stepDone * 10 / info->stepTotal) !=
                               ((info->stepDone - 1) * 10 / info->stepTotal);
    if (newStatus || milestone) {
        if (info->overallTotal > 0) {
            std::printf("%-24s %3d%% of the operation, %3d%% overall\n", info->status,
                        info->stepTotal > 0 ? info->stepDone * 100 / info->stepTotal : 0,
                        static_cast<int>(std::int64_t{info->overallDone} * 100 / info->overallTotal));
        } else {
            std::printf("%s\n", info->status);
        }
        lastStatus = info->status;
    }
}

}  // namespace

int main() {
    const weftloom::Image sample = DemoSample();
    weftloom::TextureSynthesiser job;
    job.progressCallback = &PrintProgress;
    const auto start = std::chrono::steady_clock::now();
    if (!job.Synthesise(sample, 96, 96)) {
        std::fprintf(stderr, "weftloom-demo: synthesis failed\n");
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("synthesised %ux%u from a %ux%u sample in %.2f s, fingerprint %016" PRIx64 "\n",
                job.result->width, job.result->height, sample.width, sample.height, seconds,
                weftloom::Fingerprint(*job.result));
    return 0;
}
