#include "cli/synth_run.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
#include "engine/fill/picture_fill.h"
#include "engine/memory_estimate.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "engine/time_estimate.h"
#include "imageio/image_file.h"
#include "imageio/png_writer.h"
#include "imageio/tga_writer.h"

namespace weftloom {

namespace {

// What the signal handlers share with the run. They only store to lock-free
// atomics, which a signal handler may do.
std::atomic<TextureSynthesiser*> interruptibleJob{nullptr};
std::atomic<PictureFill*> interruptibleFill{nullptr};
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
    if (PictureFill* fill = interruptibleFill.load()) {
        fill->Abort();
    }
}

extern "C" void OnResize(int) {
    terminalResized.store(true);
}

// Catches SIGINT, SIGTERM and SIGWINCH and ignores SIGXFSZ for the lifetime
// of the object. A signal the parent had ignored stays ignored (a shell
// ignores SIGINT for background jobs, and that choice is the user's).
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
            switch (kSignals[i]) {
                case SIGWINCH:
                    action.sa_handler = &OnResize;
                    break;
                case SIGXFSZ:
                    action.sa_handler = SIG_IGN;
                    break;
                default:
                    action.sa_handler = &OnStopSignal;
            }
            sigemptyset(&action.sa_mask);
            installed_[i] = sigaction(kSignals[i], &action, &previous_[i]) == 0;
        }
    }
    ~SignalScope() {
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            if (installed_[i]) {
                sigaction(kSignals[i], &previous_[i], nullptr);
            }
        }
    }
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

  private:
    static constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGWINCH, SIGXFSZ};
    std::array<struct sigaction, 4> previous_{};
    std::array<bool, 4> installed_{};
};

// While it lives, a stop signal aborts job; one that came before already has.
class AbortOnStopSignal {
  public:
    explicit AbortOnStopSignal(TextureSynthesiser& job) {
        interruptibleJob.store(&job);
        if (stopRequested.load()) {
            job.Abort();
        }
    }
    explicit AbortOnStopSignal(PictureFill& fill) {
        interruptibleFill.store(&fill);
        if (stopRequested.load()) {
            fill.Abort();
        }
    }
    ~AbortOnStopSignal() {
        interruptibleJob.store(nullptr);
        interruptibleFill.store(nullptr);
    }
    AbortOnStopSignal(const AbortOnStopSignal&) = delete;
    AbortOnStopSignal& operator=(const AbortOnStopSignal&) = delete;
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

// A reader's reason as a line's end: without a full stop, as every line of
// the tool ends.
std::string Reason(std::string reason) {
    while (!reason.empty() && reason.back() == '.') {
        reason.pop_back();
    }
    return reason;
}

int Fail(const SynthRunContext& context, const std::string& message) {
    *context.err << kSynthProgramName << ": " << message << "\n";
    return kExitFailure;
}

// Reads the sample, synthesises, writes the texture to target. Returns
// kExitSuccess once the texture is written (a stop signal after the save
// changes nothing), kExitFailure after a line saying why, or the stop
// signal's code, silently: the caller says what the stop left unmade.
// Writes a finished image to target and says so; the exit code.
int SaveResult(const Image& image, const std::string& target, double seconds,
               const SynthRunContext& context) {
    // The writer of the format the name says (the name is final already), so
    // that the reason is the system's alone and the line names the file once.
    errno = 0;
    const bool saved = IsPngPath(target)
                           ? WritePng(image, target, context.writeBlock, &stopRequested)
                           : WriteTga(image, target, context.writeBlock, &stopRequested);
    const int cause = errno;
    if (!saved && stopRequested.load()) {
        return StoppedExitCode();
    }
    if (!saved) {
        return Fail(context, "cannot write " + Quoted(target) + ": " +
                                 std::strerror(cause != 0 ? cause : EIO));
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f", seconds);
    std::ostream& out = *context.out;
    errno = 0;
    out << kSynthProgramName << ": wrote " << target << " (" << image.width << "x" << image.height
        << ") in " << elapsed << " s\n"
        << std::flush;
    if (!out) {
        return Fail(context, std::string("cannot write to standard output: ") +
                                 (errno != 0 ? std::strerror(errno) : "write error"));
    }
    // Written and kept, whatever signal came after the save.
    return kExitSuccess;
}

// The progress display of one run, as the options ask for it.
void SetUpDisplay(Display& display, CallbackState& state, const SynthOptions& options,
                  const SynthRunContext& context, std::uint32_t width) {
    display.context = &context;
    display.timeLeft = TimeLeftEstimator(width);
    display.columns = TerminalColumns(context);
    display.mode = options.quiet ? ProgressMode::None : options.progress;
    if (display.mode == ProgressMode::Auto && !context.errIsTerminal) {
        display.mode = ProgressMode::None;
    }
    state.context = &context;
    state.display = display.mode != ProgressMode::None ? &display : nullptr;
}

// Runs work (job's run) with the stop signals watched and the progress
// shown, setting done to what it returned; the seconds it took.
template <class Job, class Work>
double RunWatched(Job& job, Display& display, Work&& work, bool& done) {
    const auto start = std::chrono::steady_clock::now();
    display.start = start;
    const AbortOnStopSignal watch(job);
    done = work();
    display.Finish();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Fills the hole of the picture at picturePath (marked by the mask file, or
// by its transparency) and writes the result to target.
int RunFill(const SynthOptions& options, const std::string& picturePath, const std::string& target,
            const SynthRunContext& context) {
    const auto fail = [&context](const std::string& message) { return Fail(context, message); };
    ImageHeader header;
    std::string reason;
    if (!ReadImageHeader(picturePath, header, reason)) {
        return fail("cannot read " + Quoted(picturePath) + ": " + Reason(reason));
    }
    const std::uint64_t needed =
        EstimateFillMemory(header.width, header.height, std::max(header.bytesPerPixel, 4u));
    const std::uint64_t allowed = options.maxMemory != 0 ? options.maxMemory : PhysicalMemory();
    if (allowed != 0 && needed > allowed) {
        return fail("filling the " + std::to_string(header.width) + "x" +
                    std::to_string(header.height) + " picture " + Quoted(picturePath) +
                    " needs about " + FormatBytes(needed) + " of memory, more than " +
                    (options.maxMemory != 0 ? "the --max-memory limit of " + FormatBytes(allowed)
                                            : "the " + FormatBytes(allowed) + " this machine has"));
    }
    Image picture;
    if (!LoadImageFile(picturePath, picture, reason)) {
        return fail("cannot read " + Quoted(picturePath) + ": " + Reason(reason));
    }
    if (picture.bytesPerPixel != 3 && picture.bytesPerPixel != 4) {
        return fail(Quoted(picturePath) + " has " + std::to_string(picture.bytesPerPixel) +
                    " bytes per pixel; only 3 (RGB) and 4 (RGBA) can be filled");
    }
    HoleMask hole;
    if (options.fillTransparent) {
        if (picture.bytesPerPixel != 4) {
            return fail(Quoted(picturePath) + " has no transparency to fill");
        }
        hole = HoleFromTransparency(picture);
    } else {
        Image mask;
        if (!LoadImageFile(options.fillMask, mask, reason)) {
            return fail("cannot read the mask " + Quoted(options.fillMask) + ": " + Reason(reason));
        }
        if (mask.width != picture.width || mask.height != picture.height) {
            return fail("the mask " + Quoted(options.fillMask) + " is " +
                        std::to_string(mask.width) + "x" + std::to_string(mask.height) +
                        ", not the size of " + Quoted(picturePath) + " (" +
                        std::to_string(picture.width) + "x" + std::to_string(picture.height) + ")");
        }
        hole = HoleFromMask(mask);
    }
    if (HolePixels(hole) == 0) {
        return fail("nothing to fill in " + Quoted(picturePath) +
                    (options.fillTransparent ? ": no pixel is transparent"
                                             : ": the mask marks no pixel (white, opaque)") +
                    "; nothing written");
    }
    if (std::string unwritable = WritableProblem(target); !unwritable.empty()) {
        return fail("cannot write " + Quoted(target) + ": " + unwritable);
    }
    PictureFill fill;
    fill.randomSeed = options.settings.randomSeed;
    fill.threadCount = options.settings.threadCount;
    fill.sourceLimit = options.fillFrom;
    fill.opaque = options.fillTransparent;
    Display display;
    CallbackState state;
    SetUpDisplay(display, state, options, context, picture.width);
    fill.progressCallback = &OnProgress;
    fill.callbackContext = &state;
    bool done = false;
    const double seconds = RunWatched(
        fill, display, [&] { return fill.Fill(picture, hole); }, done);
    if (stopRequested.load()) {
        return StoppedExitCode();
    }
    if (!done) {
        return fail("cannot fill " + Quoted(picturePath) + ": " + FillRefusalText(fill.refusal));
    }
    return SaveResult(fill.result, target, seconds, context);
}

int RunSample(const SynthOptions& options, const std::string& samplePath, const std::string& target,
              const SynthRunContext& context) {
    if (options.Filling()) {
        return RunFill(options, samplePath, target, context);
    }
    std::ostream& err = *context.err;
    const auto fail = [&context](const std::string& message) { return Fail(context, message); };
    const SynthesisSettings& settings = options.settings;

    // The header decides whether the run fits before the pixels are read.
    ImageHeader header;
    std::string reason;
    if (!ReadImageHeader(samplePath, header, reason)) {
        return fail("cannot read " + Quoted(samplePath) + ": " + Reason(reason));
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
        return fail("cannot read " + Quoted(samplePath) + ": " + Reason(reason));
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
    CallbackState state;
    SetUpDisplay(display, state, options, context, width);
    job.progressCallback = &OnProgress;
    job.callbackContext = &state;

    bool done = false;
    const double seconds = RunWatched(
        job, display, [&] { return job.Synthesise(sample, width, height); }, done);
    if (stopRequested.load()) {
        return StoppedExitCode();
    }
    if (!done) {
        return fail("synthesis from " + Quoted(samplePath) + " failed: not enough memory");
    }

    return SaveResult(*job.result, target, seconds, context);
}

}  // namespace

OutputTarget ResolveOutputPath(const SynthOptions& options, const std::string& sample) {
    OutputTarget result;
    const auto refuse = [&result](const std::string& problem) {
        result.problem = problem;
        return result;
    };
    const std::string made = DefaultOutputPath(sample, options.format, options.Filling());
    const std::string& named = options.outputFolder.empty() ? options.output : options.outputFolder;
    std::string path = named.empty() ? made : named;
    if (path == "-") {
        return refuse("cannot write to standard output ('-'); name a file with -o");
    }
    const std::string special = ": it is not a regular file; name a file to write";
    // A name that cannot be looked up (a link loop, a name too long, a folder
    // that may not be searched) is refused here, not replaced later.
    struct stat status {};
    const bool exists = stat(path.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) {
        return refuse("cannot write " + Quoted(path) + ": " + std::strerror(errno));
    }
    if (exists && S_ISDIR(status.st_mode)) {
        path += (path.back() == '/' ? "" : "/") + made;
    } else if (path.back() == '/') {
        return refuse("cannot write " + Quoted(path) + ": there is no such folder");
    } else if ((exists && !S_ISREG(status.st_mode)) || IsSpecialName(path)) {
        return refuse("cannot write " + Quoted(path) + special);
    } else if (path.find('.', path.rfind('/') + 1) == std::string::npos) {
        path += "." + FormatExtension(options.format);
    }
    const std::string target = SavePathFor(path);
    if (stat(target.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            return refuse("cannot write " + Quoted(target) + ": " + std::strerror(errno));
        }
        result.path = target;
        return result;
    }
    if (S_ISDIR(status.st_mode)) {
        return refuse("cannot write " + Quoted(target) + ": it is a folder");
    }
    if (!S_ISREG(status.st_mode) || IsSpecialName(target)) {
        return refuse("cannot write " + Quoted(target) + special);
    }
    if ((status.st_mode & 0222) == 0 && !options.force && !options.noClobber) {
        return refuse("cannot replace " + Quoted(target) +
                      ": it is read-only; --force replaces it");
    }
    result.path = target;
    result.kept = options.noClobber;
    return result;
}

namespace {

// A file as the clash checks compare it: by its name with every link and
// "." resolved, and by device and inode when it exists.
struct FileIdentity {
    std::string name;
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;

    explicit FileIdentity(const std::string& path) {
        std::error_code error;
        std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
        if (error) {
            resolved = std::filesystem::absolute(path, error).lexically_normal();
        }
        name = error ? path : resolved.string();
        struct stat status {};
        exists = stat(path.c_str(), &status) == 0;
        device = status.st_dev;
        inode = status.st_ino;
    }
    bool SameFile(const FileIdentity& other) const {
        return name == other.name ||
               (exists && other.exists && device == other.device && inode == other.inode);
    }
};

// "'a', 'b' and 3 more": the samples a stop left unmade.
std::string NotMadeList(const std::vector<std::string>& samples, std::size_t first) {
    constexpr std::size_t kShown = 10;
    std::string text;
    const std::size_t last = std::min(samples.size(), first + kShown);
    for (std::size_t i = first; i < last; ++i) {
        text += (i == first ? "" : ", ") + Quoted(samples[i]);
    }
    if (last < samples.size()) {
        text += " and " + std::to_string(samples.size() - last) + " more";
    }
    return text;
}

}  // namespace

int RunSynthFiles(const SynthOptions& options, const SynthRunContext& context) {
    std::ostream& err = *context.err;
    const SignalScope signals;
    if (!options.outputFolder.empty()) {
        std::error_code made;
        std::filesystem::create_directories(options.outputFolder, made);
        std::error_code looked;
        const auto status = std::filesystem::status(options.outputFolder, looked);
        if (!std::filesystem::is_directory(status)) {
            const std::string why = std::filesystem::exists(status)
                                        ? "it exists and is not a folder"
                                    : made ? made.message()
                                           : looked.message();
            return Fail(context,
                        "cannot make the folder " + Quoted(options.outputFolder) + ": " + why);
        }
    }
    const bool several = options.samples.size() > 1 || !options.outputFolder.empty();
    const auto start = std::chrono::steady_clock::now();
    std::vector<FileIdentity> samples;
    for (const std::string& sample : options.samples) {
        samples.emplace_back(sample);
    }
    std::size_t written = 0;
    std::size_t kept = 0;
    std::size_t failed = 0;
    // Textures written so far, with the sample each came from.
    std::vector<std::pair<FileIdentity, std::string>> textures;
    // Why sample's texture must not be written to path: it would replace a
    // sample of the run or an earlier texture; empty when it may.
    const auto clash = [&](const std::string& sample, const std::string& path) {
        const FileIdentity texture(path);
        const std::string notGrowing =
            "not growing " + Quoted(sample) + ": its texture " + Quoted(path) + " would replace ";
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (texture.SameFile(samples[i])) {
                return notGrowing + "the sample " + Quoted(options.samples[i]);
            }
        }
        for (const auto& [earlier, from] : textures) {
            if (texture.SameFile(earlier)) {
                return notGrowing + "the one made from " + Quoted(from);
            }
        }
        return std::string();
    };
    std::size_t next = 0;  // after the loop: the first sample not made
    for (; next < options.samples.size() && !stopRequested.load(); ++next) {
        const std::string& sample = options.samples[next];
        const OutputTarget target = ResolveOutputPath(options, sample);
        if (target.kept) {
            ++kept;
            *context.out << kSynthProgramName << ": kept " << target.path
                         << " (it exists, and --no-clobber keeps it)\n";
            continue;
        }
        std::string problem = target.problem;
        if (problem.empty()) {
            problem = clash(sample, target.path);
        }
        const int code = problem.empty() ? RunSample(options, sample, target.path, context)
                                         : Fail(context, problem);
        if (code == kExitSuccess) {
            ++written;
            textures.emplace_back(FileIdentity(target.path), sample);
        } else if (code == kExitFailure) {
            ++failed;
        } else {
            break;  // stopped: this sample is not made
        }
    }
    if (stopRequested.load() && !several) {
        if (written == 0) {
            err << kSynthProgramName << ": "
                << (caughtSignal.load() == SIGTERM ? "terminated" : "interrupted")
                << "; nothing written\n";
        }
        return StoppedExitCode();
    }
    if (!several) {
        return failed == 0 ? kExitSuccess : kExitFailure;
    }
    const std::size_t notMade = options.samples.size() - next;
    if (stopRequested.load()) {
        err << kSynthProgramName << ": "
            << (caughtSignal.load() == SIGTERM ? "terminated" : "interrupted")
            << (notMade == 0 ? std::string("; every texture was made")
                             : "; not made: " + NotMadeList(options.samples, next))
            << "\n";
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    std::ostream& out = *context.out;
    out << kSynthProgramName << ": " << written << " written, "
        << (options.noClobber ? std::to_string(kept) + " kept, " : "") << failed << " failed, "
        << (stopRequested.load() ? std::to_string(notMade) + " not made, " : "") << "in " << elapsed
        << " s\n"
        << std::flush;
    if (stopRequested.load()) {
        return StoppedExitCode();
    }
    if (!out) {
        err << kSynthProgramName << ": cannot write to standard output\n";
        return kExitFailure;
    }
    return failed == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace weftloom
