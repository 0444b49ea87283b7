#include "cli/synth_run.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "cli/progress_line.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "engine/time_estimate.h"
#include "imageio/image_file.h"

namespace weftloom {

namespace {

// The job a SIGINT aborts. Abort only stores to a lock-free atomic, which a
// signal handler may do.
std::atomic<TextureSynthesiser*> interruptibleJob{nullptr};
std::atomic<bool> interrupted{false};
static_assert(std::atomic<TextureSynthesiser*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    interrupted.store(true);
    if (TextureSynthesiser* job = interruptibleJob.load()) {
        job->Abort();
    }
}

// Installs the SIGINT handler for the lifetime of the object.
class InterruptScope {
  public:
    explicit InterruptScope(TextureSynthesiser& job) {
        interrupted.store(false);
        interruptibleJob.store(&job);
        struct sigaction action {};
        action.sa_handler = &OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptScope() {
        sigaction(SIGINT, &previous_, nullptr);
        interruptibleJob.store(nullptr);
    }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

  private:
    struct sigaction previous_ {};
};

// The state the progress callback works with.
struct Display {
    const SynthRunContext* context = nullptr;
    TimeLeftEstimator timeLeft{0};
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
    ProgressLine line;
    bool drawn = false;

    void Update(const ProgressInfo& info) {
        const auto now = std::chrono::steady_clock::now();
        const bool newStatus = line.status != info.status;
        line.status = info.status;
        if (info.stepTotal != 0) {
            line.stepDone = info.stepDone;
            line.stepTotal = info.stepTotal;
        }
        if (info.overallTotal != 0) {
            line.overallDone = info.overallDone;
            line.overallTotal = info.overallTotal;
        }
        timeLeft.Update(info, std::chrono::duration<double>(now - start).count(), line.timeLeft);
        if (newStatus || now - lastDraw >= std::chrono::milliseconds(100)) {
            Draw();
            lastDraw = now;
        }
    }

    void Draw() {
        *context->err << '\r' << line.Render() << "\x1b[K" << std::flush;
        drawn = true;
    }

    void Finish() {
        if (drawn) {
            *context->err << "\r\x1b[K" << std::flush;
        }
    }
};

struct CallbackState {
    Display* display = nullptr;  // null when nothing is drawn
    const SynthRunContext* context = nullptr;
};

void OnProgress(const ProgressInfo* info) {
    auto* state = static_cast<CallbackState*>(info->context);
    if (state->display != nullptr) {
        state->display->Update(*info);
    }
    if (state->context->observer) {
        state->context->observer(*info);
    }
}

// Whether a file can be created beside target: checked before a long run, so
// that an unwritable output is reported at once rather than after it.
std::string WritableProblem(const std::filesystem::path& target) {
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec)) {
        return "it is a folder";
    }
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string probe = (folder / ".weftloom-synth-XXXXXX").string();
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        return std::strerror(errno);
    }
    close(fd);
    std::remove(probe.c_str());
    return {};
}

}  // namespace

int RunSynth(const SynthOptions& options, const SynthRunContext& context) {
    std::ostream& err = *context.err;
    const auto fail = [&err](const std::string& message) {
        err << kSynthProgramName << ": " << message << "\n";
        return kExitFailure;
    };

    Image sample;
    std::string reason;
    if (!LoadImageFile(options.sample, sample, reason)) {
        return fail("cannot read '" + options.sample + "': " + reason);
    }
    const SynthesisSettings& settings = options.settings;
    const std::uint32_t width = options.width != 0 ? options.width : sample.width;
    const std::uint32_t height = options.height != 0 ? options.height : sample.height;
    const std::string sampleSize =
        std::to_string(sample.width) + "x" + std::to_string(sample.height);
    switch (CheckSynthesis(sample, width, height, settings)) {
        case SynthesisProblem::None:
            break;
        case SynthesisProblem::EmptySample:
            return fail("'" + options.sample + "' is empty (" + sampleSize +
                        " pixels): nothing to synthesise from");
        case SynthesisProblem::UnsupportedSample:
            return fail("'" + options.sample + "' has " + std::to_string(sample.bytesPerPixel) +
                        " bytes per pixel; only 3 (RGB) and 4 (RGBA) can be synthesised");
        case SynthesisProblem::OutputTooLarge:
            return fail("an output of " + std::to_string(width) + "x" + std::to_string(height) +
                        " pixels is too large to synthesise");
        case SynthesisProblem::SampleTooSmall: {
            const Accuracy accuracy = settings.levelAccuracy[0];
            const std::int32_t side = settings.WindowSide(0);
            return fail("'" + options.sample + "' (" + sampleSize +
                        ") is too small for the Level 1 window of " + std::to_string(side) +
                        " pixels at accuracy " + AccuracyName(accuracy) +
                        (accuracy == Accuracy::Low
                             ? "; use a larger sample"
                             : "; use a larger sample or a lower --accuracy"));
        }
    }

    TextureSynthesiser job;
    ApplySettings(settings, job);

    const std::string requested =
        options.output.empty() ? DefaultOutputPath(options.sample) : options.output;
    const std::string target = SavePathFor(requested);
    if (std::string problem = WritableProblem(target); !problem.empty()) {
        return fail("cannot write '" + target + "': " + problem);
    }

    Display display;
    display.context = &context;
    display.timeLeft = TimeLeftEstimator(width);
    CallbackState state;
    state.context = &context;
    state.display = !options.quiet && context.errIsTerminal ? &display : nullptr;
    job.progressCallback = &OnProgress;
    job.callbackContext = &state;

    const auto start = std::chrono::steady_clock::now();
    display.start = start;
    bool done = false;
    bool wasInterrupted = false;
    {
        InterruptScope scope(job);
        done = job.Synthesise(sample, width, height);
        wasInterrupted = interrupted.load();
    }
    display.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (wasInterrupted) {
        err << kSynthProgramName << ": interrupted; nothing written\n";
        return kExitInterrupted;
    }
    if (!done) {
        return fail("synthesis from '" + options.sample + "' failed: not enough memory");
    }

    std::string savedPath;
    if (!SaveImageFile(*job.result, requested, savedPath, reason)) {
        return fail("cannot write '" + target + "': " + reason);
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f", seconds);
    *context.out << kSynthProgramName << ": wrote " << savedPath << " (" << width << "x" << height
                 << ") in " << elapsed << " s\n";
    return kExitSuccess;
}

}  // namespace weftloom
