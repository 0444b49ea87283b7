#include "cli/synth_run.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <vector>

#include "cli/progress_line.h"
#include "engine/memory_estimate.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "engine/time_estimate.h"
#include "imageio/image_file.h"

namespace weftloom {

namespace {

// What the signal handlers share with the run. They only store to lock-free
// atomics, which a signal handler may do.
std::atomic<TextureSynthesiser*> interruptibleJob{nullptr};
std::atomic<bool> stopRequested{false};
std::atomic<int> caughtSignal{0};
std::atomic<bool> terminalResized{false};
static_assert(std::atomic<TextureSynthesiser*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
    // The first signal decides the exit status.
    int none = 0;
    caughtSignal.compare_exchange_strong(none, signal);
    stopRequested.store(true);
    if (TextureSynthesiser* job = interruptibleJob.load()) {
        job->Abort();
    }
}

extern "C" void OnResize(int) {
    terminalResized.store(true);
}

// Catches SIGINT, SIGTERM and SIGWINCH for the lifetime of the object. A
// signal the parent had ignored stays ignored (a shell ignores SIGINT for
// background jobs, and that choice is the user's).
class SignalScope {
  public:
    SignalScope() {
        stopRequested.store(false);
        caughtSignal.store(0);
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            struct sigaction current {};
            sigaction(kSignals[i], nullptr, &current);
            if (current.sa_handler == SIG_IGN) {
                continue;
            }
            struct sigaction action {};
            action.sa_handler = kSignals[i] == SIGWINCH ? &OnResize : &OnStopSignal;
            sigemptyset(&action.sa_mask);
            installed_[i] = sigaction(kSignals[i], &action, &previous_[i]) == 0;
        }
    }
    ~SignalScope() {
        interruptibleJob.store(nullptr);
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            if (installed_[i]) {
                sigaction(kSignals[i], &previous_[i], nullptr);
            }
        }
    }
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

    // From now on a stop signal aborts job; one that came before already has.
    void Watch(TextureSynthesiser& job) {
        interruptibleJob.store(&job);
        if (stopRequested.load()) {
            job.Abort();
        }
    }

  private:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGWINCH};
    std::array<struct sigaction, 3> previous_{};
    std::array<bool, 3> installed_{};
};

int StoppedExitCode() {
    return caughtSignal.load() == SIGTERM ? kExitTerminated : kExitInterrupted;
}

int TerminalColumns(const SynthRunContext& context) {
    if (context.terminalColumns > 0) {
        return context.terminalColumns;
    }
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

// The progress display on standard error, as options and terminal allow.
struct Display {
    const SynthRunContext* context = nullptr;
    ProgressMode mode = ProgressMode::None;
    TimeLeftEstimator timeLeft{0};
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
    ProgressLine line;
    int columns = 80;
    std::size_t drawnLength = 0;
    bool drawn = false;
    std::int32_t level = -1;  // the last report's
    std::int32_t levelCount = 0;

    void Update(const ProgressInfo& info) {
        const auto now = std::chrono::steady_clock::now();
        const bool newStatus = line.status != info.status;
        line.status = info.status;
        level = info.level;
        levelCount = info.levelCount;
        if (info.stepTotal != 0) {
            line.stepDone = info.stepDone;
            line.stepTotal = info.stepTotal;
        }
        if (info.overallTotal != 0) {
            line.overallDone = info.overallDone;
            line.overallTotal = info.overallTotal;
        }
        timeLeft.Update(info, std::chrono::duration<double>(now - start).count(), line.timeLeft);
        if (mode == ProgressMode::Log) {
            if (newStatus) {
                Log();
            }
            return;
        }
        if (terminalResized.exchange(false)) {
            columns = TerminalColumns(*context);
        }
        if (newStatus || now - lastDraw >= std::chrono::milliseconds(100)) {
            Draw();
            lastDraw = now;
        }
    }

    // One plain line per phase: the whole run's percentage, then the phase.
    void Log() {
        std::string phase = line.status;
        if (levelCount != 0) {
            phase += ", level " + std::to_string(level + 1) + " of " + std::to_string(levelCount);
        }
        const std::string bar = ProgressBar(line.overallDone, line.overallTotal, 0);
        *context->err << kSynthProgramName << ":" << bar.substr(bar.find(']') + 1) << " " << phase
                      << "\n"
                      << std::flush;
    }

    void Draw() {
        const std::string text = line.Render(columns);
        if (context->dumbTerminal) {
            // Spaces over what is left of a longer line before.
            const std::size_t pad = drawnLength > text.size() ? drawnLength - text.size() : 0;
            *context->err << '\r' << text << std::string(pad, ' ') << std::flush;
        } else {
            *context->err << '\r' << text << "\x1b[K" << std::flush;
        }
        drawnLength = text.size();
        drawn = true;
    }

    void Finish() {
        if (!drawn) {
            return;
        }
        if (context->dumbTerminal) {
            *context->err << '\r' << std::string(drawnLength, ' ') << '\r' << std::flush;
        } else {
            *context->err << "\r\x1b[K" << std::flush;
        }
        drawn = false;
    }
};

struct CallbackState {
    Display* display = nullptr;  // null when nothing is shown
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

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// Whether a file can be created beside target: checked before a long run, so
// that an unwritable output is reported at once rather than after it.
std::string WritableProblem(const std::string& target) {
    std::filesystem::path folder = std::filesystem::path(SaveTargetOf(target)).parent_path();
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

// The advice a memory refusal gives: only what would lower the figure.
std::string MemoryAdvice(const ImageHeader& sample, std::uint32_t width, std::uint32_t height,
                         const SynthesisSettings& settings, std::uint64_t estimate) {
    std::vector<std::string> ways;
    const std::uint64_t withoutOutput =
        EstimatePeakMemory(sample.width, sample.height, sample.bytesPerPixel, 1, 1, settings);
    if (estimate - withoutOutput >= estimate / 4) {
        ways.emplace_back("a smaller --size");
    }
    if (withoutOutput >= estimate / 4) {
        ways.emplace_back("a smaller sample");
    }
    SynthesisSettings low = settings;
    low.levelAccuracy = {Accuracy::Low, Accuracy::Low, Accuracy::Medium};
    if (EstimatePeakMemory(sample.width, sample.height, sample.bytesPerPixel, width, height, low) <
        estimate / 10 * 9) {
        ways.emplace_back("a lower --accuracy");
    }
    SynthesisSettings counted = settings;
    counted.subsamplingMode = SubsamplingMode::FixedCount;
    if (EstimatePeakMemory(sample.width, sample.height, sample.bytesPerPixel, width, height,
                           counted) < estimate / 10 * 9) {
        ways.emplace_back("--subsampling count");
    }
    std::string advice;
    for (std::size_t i = 0; i < ways.size(); ++i) {
        advice += (i == 0 ? "; try " : i + 1 == ways.size() ? " or " : ", ") + ways[i];
    }
    return advice;
}

// Names of the process's own descriptors (/dev/stdout leads to
// /proc/self/fd/1), which may lead to a regular file at the moment but are
// no place to put a file. Devices are refused for not being regular files.
bool IsSpecialName(const std::string& path) {
    std::error_code ec;
    const std::string real = std::filesystem::weakly_canonical(path, ec).string();
    for (const std::string& name : {path, real}) {
        for (const char* prefix :
             {"/proc/", "/dev/fd/", "/dev/stdin", "/dev/stdout", "/dev/stderr"}) {
            if (name.rfind(prefix, 0) == 0) {
                return true;
            }
        }
    }
    return false;
}

int Fail(const SynthRunContext& context, const std::string& message) {
    *context.err << kSynthProgramName << ": " << message << "\n";
    return kExitFailure;
}

// Reads the sample, synthesises, writes the texture to target; returns the
// exit code, as RunSynthFiles says for each sample.
int RunSample(const SynthOptions& options, const std::string& samplePath, const std::string& target,
              const SynthRunContext& context) {
    std::ostream& err = *context.err;
    const auto fail = [&context](const std::string& message) { return Fail(context, message); };
    SignalScope signals;
    const SynthesisSettings& settings = options.settings;

    // The header decides whether the run fits before the pixels are read.
    ImageHeader header;
    std::string reason;
    if (!ReadImageHeader(samplePath, header, reason)) {
        return fail("cannot read " + Quoted(samplePath) + ": " + reason);
    }
    const std::uint32_t width = options.width != 0 ? options.width : header.width;
    const std::uint32_t height = options.height != 0 ? options.height : header.height;
    const MemoryCheck memory = CheckMemory(header.width, header.height, header.bytesPerPixel, width,
                                           height, settings, options.maxMemory);
    if (!memory.Fits()) {
        const std::uint64_t estimate = memory.needed;
        const std::uint64_t limit = memory.allowed;
        return fail("growing " + std::to_string(width) + "x" + std::to_string(height) +
                    " from the " + std::to_string(header.width) + "x" +
                    std::to_string(header.height) + " sample " + Quoted(samplePath) +
                    " needs about " + FormatBytes(estimate) + " of memory, more than " +
                    (options.maxMemory != 0 ? "the --max-memory limit of " + FormatBytes(limit)
                                            : "the " + FormatBytes(limit) + " this machine has") +
                    MemoryAdvice(header, width, height, settings, estimate));
    }

    Image sample;
    if (!LoadImageFile(samplePath, sample, reason)) {
        return fail("cannot read " + Quoted(samplePath) + ": " + reason);
    }
    const std::string sampleSize =
        std::to_string(sample.width) + "x" + std::to_string(sample.height);
    switch (CheckSynthesis(sample, width, height, settings)) {
        case SynthesisProblem::None:
            break;
        case SynthesisProblem::EmptySample:
            return fail(Quoted(samplePath) + " is empty (" + sampleSize +
                        " pixels): nothing to synthesise from");
        case SynthesisProblem::UnsupportedSample:
            return fail(Quoted(samplePath) + " has " + std::to_string(sample.bytesPerPixel) +
                        " bytes per pixel; only 3 (RGB) and 4 (RGBA) can be synthesised");
        case SynthesisProblem::OutputTooLarge:
            return fail("an output of " + std::to_string(width) + "x" + std::to_string(height) +
                        " pixels is too large to synthesise");
        case SynthesisProblem::SampleTooSmall: {
            const Accuracy accuracy = settings.levelAccuracy[0];
            const std::int32_t side = settings.WindowSide(0);
            return fail(Quoted(samplePath) + " (" + sampleSize +
                        ") is too small for the Level 1 window of " + std::to_string(side) +
                        " pixels at accuracy " + AccuracyName(accuracy) +
                        (accuracy == Accuracy::Low
                             ? "; use a larger sample"
                             : "; use a larger sample or a lower --accuracy"));
        }
    }
    if (std::string unwritable = WritableProblem(target); !unwritable.empty()) {
        return fail("cannot write " + Quoted(target) + ": " + unwritable);
    }
    if (header.alphaDropped) {
        err << kSynthProgramName << ": warning: " << Quoted(samplePath)
            << " has an alpha channel, which is not synthesised; the texture has none\n";
    }

    TextureSynthesiser job;
    ApplySettings(settings, job);
    Display display;
    display.context = &context;
    display.timeLeft = TimeLeftEstimator(width);
    display.columns = TerminalColumns(context);
    display.mode = options.quiet ? ProgressMode::None : options.progress;
    if (display.mode == ProgressMode::Auto && !context.errIsTerminal) {
        display.mode = ProgressMode::None;
    }
    CallbackState state;
    state.context = &context;
    state.display = display.mode != ProgressMode::None ? &display : nullptr;
    job.progressCallback = &OnProgress;
    job.callbackContext = &state;

    const auto start = std::chrono::steady_clock::now();
    display.start = start;
    signals.Watch(job);
    const bool done = job.Synthesise(sample, width, height);
    display.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto stop = [&err] {
        err << kSynthProgramName << ": "
            << (caughtSignal.load() == SIGTERM ? "terminated" : "interrupted")
            << "; nothing written\n";
        return StoppedExitCode();
    };
    if (stopRequested.load()) {
        return stop();
    }
    if (!done) {
        return fail("synthesis from " + Quoted(samplePath) + " failed: not enough memory");
    }

    std::string savedPath;
    const bool saved =
        SaveImageFile(*job.result, target, savedPath, reason, context.writeBlock, &stopRequested);
    if (!saved && stopRequested.load()) {
        return stop();
    }
    if (!saved) {
        return fail("cannot write " + Quoted(target) + ": " + reason);
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f", seconds);
    std::ostream& out = *context.out;
    errno = 0;
    out << kSynthProgramName << ": wrote " << savedPath << " (" << width << "x" << height << ") in "
        << elapsed << " s\n"
        << std::flush;
    if (!out) {
        return fail(std::string("cannot write to standard output: ") +
                    (errno != 0 ? std::strerror(errno) : "write error"));
    }
    // Written and kept: a stop signal after the save only sets the status.
    return stopRequested.load() ? StoppedExitCode() : kExitSuccess;
}

}  // namespace

std::string ResolveOutputPath(const SynthOptions& options, const std::string& sample,
                              std::string& problem) {
    problem.clear();
    const std::string fallback = DefaultOutputPath(sample);
    const std::string& named = options.outputFolder.empty() ? options.output : options.outputFolder;
    std::string path = named.empty() ? fallback : named;
    if (path == "-") {
        problem = "cannot write to standard output ('-'); name a file with -o";
        return {};
    }
    const std::string special = " is not a regular file; name a file to write";
    struct stat status {};
    const bool exists = stat(path.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) {
        path += (path.back() == '/' ? "" : "/") + fallback;
    } else if (path.back() == '/') {
        problem = "cannot write " + Quoted(path) + ": there is no such folder";
        return {};
    } else if ((exists && !S_ISREG(status.st_mode)) || IsSpecialName(path)) {
        problem = "cannot write " + Quoted(path) + ": it" + special;
        return {};
    }
    const std::string target = SavePathFor(path);
    if (stat(target.c_str(), &status) != 0) {
        return target;
    }
    if (S_ISDIR(status.st_mode)) {
        problem = "cannot write " + Quoted(target) + ": it is a folder";
    } else if (!S_ISREG(status.st_mode) || IsSpecialName(target)) {
        problem = "cannot write " + Quoted(target) + ": it" + special;
    } else if (options.noClobber) {
        problem = "cannot replace " + Quoted(target) + ": it exists, and --no-clobber keeps it";
    } else if ((status.st_mode & 0222) == 0 && !options.force) {
        problem = "cannot replace " + Quoted(target) + ": it is read-only; --force replaces it";
    }
    return problem.empty() ? target : std::string();
}

int RunSynthFiles(const SynthOptions& options, const SynthRunContext& context) {
    std::ostream& err = *context.err;
    if (!options.outputFolder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.outputFolder, error);
        if (error && !std::filesystem::is_directory(options.outputFolder)) {
            err << kSynthProgramName << ": cannot make the folder " << Quoted(options.outputFolder)
                << ": " << error.message() << "\n";
            return kExitFailure;
        }
    }
    const bool several = options.samples.size() > 1 || !options.outputFolder.empty();
    const auto start = std::chrono::steady_clock::now();
    std::size_t written = 0;
    std::size_t failed = 0;
    // Textures written so far, by the sample they came from.
    std::map<std::string, std::string> targets;
    for (const std::string& sample : options.samples) {
        std::string problem;
        const std::string target = ResolveOutputPath(options, sample, problem);
        int code = kExitFailure;
        if (!problem.empty()) {
            Fail(context, problem);
        } else if (const auto earlier = targets.find(target); earlier != targets.end()) {
            Fail(context, "cannot write " + Quoted(target) + ": it is the texture of " +
                              Quoted(earlier->second));
        } else {
            code = RunSample(options, sample, target, context);
        }
        if (!several || code == kExitInterrupted || code == kExitTerminated) {
            return code;
        }
        if (code == kExitSuccess) {
            ++written;
            targets.emplace(target, sample);
        } else {
            ++failed;
        }
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::ostream& out = *context.out;
    out << kSynthProgramName << ": " << written << " written, " << failed << " failed, in "
        << elapsed << " s\n"
        << std::flush;
    if (!out) {
        err << kSynthProgramName << ": cannot write to standard output\n";
        return kExitFailure;
    }
    return failed == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace weftloom
