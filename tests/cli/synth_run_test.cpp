#include "cli/synth_run.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <csignal>
#include <sstream>

#include "cli/progress_line.h"
#include "engine/fill/picture_fill.h"
#include "engine/texture_synthesiser.h"
#include "imageio/image_file.h"
#include "imageio/tga_writer.h"
#include "tests/support/test_files.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs the tool in this process; out and err are set here.
Outcome RunTool(const SynthOptions& options, SynthRunContext context = {}) {
    std::ostringstream out;
    std::ostringstream err;
    context.out = &out;
    context.err = &err;
    const int code = RunSynthFiles(options, context);
    return {code, out.str(), err.str()};
}

SynthRunContext Terminal(int columns, bool dumb = false) {
    SynthRunContext context;
    context.errIsTerminal = true;
    context.terminalColumns = columns;
    context.dumbTerminal = dumb;
    return context;
}

class SynthRun : public ::testing::Test {
  protected:
    void SetUp() override {
        samplePath = (scratch / "pattern.tga").string();
        ASSERT_TRUE(WriteTga(testing::PatternImage(24, 20, 3), samplePath));
        options.samples = {samplePath};
        options.output = (scratch / "result.tga").string();
        options.width = 30;
        options.height = 26;
        options.settings.levelAccuracy = {Accuracy::Medium, Accuracy::Low, Accuracy::Low};
    }

    test::ScratchFolder scratch;
    std::string samplePath;
    SynthOptions options;
};

TEST_F(SynthRun, WritesTheEnginesBytesAndSaysWhere) {
    options.output = (scratch / "result.JPG").string();  // written as TGA beside
    options.settings.metric = DistanceMetric::L1;
    options.settings.subsamplingMode = SubsamplingMode::Percentage;
    options.settings.subsamplePercent = 30;
    options.settings.minimumPixelCount = 10;
    options.settings.randomSeed = 7;
    const Outcome outcome = RunTool(options);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(outcome.err.empty()) << "not a terminal: no progress drawn";
    const std::string written = (scratch / "result.tga").string();
    EXPECT_EQ(outcome.out.rfind("weftloom-synth: wrote " + written + " (30x26) in ", 0), 0u)
        << outcome.out;
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"pattern.tga", "result.tga"}));

    Image image;
    std::string reason;
    ASSERT_TRUE(LoadImageFile(written, image, reason)) << reason;

    // The same job set up by hand, with the sides the accuracy names.
    TextureSynthesiser job;
    job.neighbourhoodSize = {7, 3, 1};
    job.metric = DistanceMetric::L1;
    job.subsamplingMode = SubsamplingMode::Percentage;
    job.subsamplePercent = 30;
    job.minimumPixelCount = 10;
    job.randomSeed = 7;
    ASSERT_TRUE(job.Synthesise(testing::PatternImage(24, 20, 3), 30, 26));
    EXPECT_EQ(image.pixels, job.result->pixels);
}

// A fill writes the engine's fill of the picture under <name>-filled.png, and
// refuses a mask of another size and one that marks nothing, writing nothing.
TEST_F(SynthRun, AFillWritesTheEnginesFillOrSaysWhyNot) {
    const Image picture = testing::PatternImage(40, 36, 3, 2);
    const std::string picturePath = (scratch / "photo.tga").string();
    ASSERT_TRUE(WriteTga(picture, picturePath));
    Image mask;
    ASSERT_TRUE(mask.Allocate(40, 36, 3));
    for (std::uint32_t y = 12; y < 22; ++y) {
        for (std::uint32_t x = 10; x < 25; ++x) {
            std::fill_n(mask.PixelAt(x, y), 3, std::uint8_t{255});
        }
    }
    ASSERT_TRUE(WriteTga(mask, (scratch / "mask.tga").string()));
    Image blank;
    ASSERT_TRUE(blank.Allocate(40, 36, 3));
    ASSERT_TRUE(WriteTga(blank, (scratch / "blank.tga").string()));
    ASSERT_TRUE(WriteTga(testing::PatternImage(8, 8, 3), (scratch / "small.tga").string()));

    SynthOptions fill;
    fill.samples = {picturePath};
    fill.outputFolder = scratch.path().string();
    fill.format = OutputFormat::Png;
    fill.settings.randomSeed = 5;
    fill.fillMask = (scratch / "mask.tga").string();
    const Outcome done = RunTool(fill);
    ASSERT_EQ(done.exitCode, 0) << done.err;
    Image written;
    std::string reason;
    ASSERT_TRUE(LoadImageFile((scratch / "photo-filled.png").string(), written, reason)) << reason;
    PictureFill engine;
    engine.randomSeed = 5;
    ASSERT_TRUE(engine.Fill(picture, HoleFromMask(mask)));
    EXPECT_EQ(written.pixels, engine.result.pixels);

    struct Case {
        const char* mask;
        const char* says;
    };
    const Case refusals[] = {
        {"small.tga", "is 8x8, not the size of"},
        {"blank.tga", "the mask marks no pixel (white, opaque); nothing written"}};
    for (const Case& c : refusals) {
        fs::remove(scratch / "photo-filled.png");
        fill.fillMask = (scratch / c.mask).string();
        const Outcome refused = RunTool(fill);
        EXPECT_EQ(refused.exitCode, kExitFailure) << c.mask;
        EXPECT_NE(refused.err.find(c.says), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(scratch / "photo-filled.png")) << c.mask;
    }
}

// Several samples: each in turn into the folder, which is made; a bad one and
// one whose texture would replace an earlier one's fail alone; a summary ends
// the run, and its status says something failed.
TEST_F(SynthRun, SeveralSamplesRunInTurnAndOneFailureStopsNoOther) {
    fs::create_directory(scratch / "other");
    fs::copy_file(samplePath, scratch / "other" / "pattern.tga");
    fs::copy_file(test::DataPath("png/rgb8.png"), scratch / "photo.png");
    test::WriteBytes(scratch / "broken.tga", {0, 0, 2, 0, 0});
    options.output.clear();
    options.outputFolder = (scratch / "out" / "textures").string();
    options.width = options.height = 16;
    options.samples = {samplePath, (scratch / "broken.tga").string(),
                       (scratch / "photo.png").string(),
                       (scratch / "other" / "pattern.tga").string()};
    options.settings.levelAccuracy = {Accuracy::Low, Accuracy::Low, Accuracy::Low};
    const Outcome outcome = RunTool(options);
    EXPECT_EQ(outcome.exitCode, 1);
    const fs::path out = scratch / "out" / "textures";
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(out)) {
        written.push_back(entry.path().filename().string());
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"pattern-synth.tga", "photo-synth.tga"}));
    EXPECT_NE(outcome.out.find("wrote " + (out / "pattern-synth.tga").string()), std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find("weftloom-synth: 2 written, 2 failed, in "), std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.err.find("broken.tga': Error reading header"), std::string::npos)
        << outcome.err;
    // The line names the sample that fails, then the one that was first.
    EXPECT_NE(outcome.err.find("not growing '" + options.samples[3] + "': its texture '" +
                               (out / "pattern-synth.tga").string() +
                               "' would replace the one made from '" + samplePath + "'"),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 2) << outcome.err;

    // A rerun that keeps what is there counts it apart, and succeeds; the
    // format asked for makes names of its own.
    options.samples = {samplePath, options.samples[2]};
    options.noClobber = true;
    const Outcome rerun = RunTool(options);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
    EXPECT_NE(rerun.out.find("kept " + (out / "photo-synth.tga").string()), std::string::npos);
    EXPECT_NE(rerun.out.find("weftloom-synth: 0 written, 2 kept, 0 failed, in "), std::string::npos)
        << rerun.out;
    options.format = OutputFormat::Png;
    const Outcome png = RunTool(options);
    EXPECT_NE(png.out.find("weftloom-synth: 2 written, 0 kept, 0 failed, in "), std::string::npos)
        << png.out;
    EXPECT_EQ(test::ReadBytes(out / "pattern-synth.png")[1], 'P') << "a PNG file";
}

TEST_F(SynthRun, FailuresNameTheFileAndTheReasonAndLeaveNothingBehind) {
    test::WriteBytes(scratch / "broken.tga", {0, 0, 2, 0, 0});
    test::WriteBytes(scratch / "picture.bmp", {'B', 'M', 0, 0});
    test::WriteBytes(scratch / "picture.png", {0, 0, 2, 0, 0});
    test::WriteBytes(scratch / "empty.tga",
                     {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 24, 0x20});
    ASSERT_TRUE(WriteTga(testing::PatternImage(8, 8, 3), (scratch / "tiny.tga").string()));
    fs::create_directory(scratch / "folder.tga");
    ASSERT_EQ(mkfifo((scratch / "fifo.tga").c_str(), 0600), 0);
    fs::copy_file(test::DataPath("crashers/frame_claims_16000_squared.jpg"), scratch / "lie.jpg");
    fs::copy_file(test::DataPath("crashers/end_marker_mid_scan.jpg"), scratch / "short.jpg");
    struct Case {
        const char* sample;
        const char* output;
        const char* says;     // part of the error line
        std::uint32_t side;   // of the output; 0: as set up
        std::uint64_t limit;  // --max-memory; 0: the machine's
    };
    const std::uint64_t plenty = std::uint64_t{1} << 50;
    const Case cases[] = {
        {"absent.tga", "result.tga", "absent.tga': No such file or directory", 0, 0},
        {"folder.tga", "result.tga", "folder.tga': It is a folder", 0, 0},
        {"fifo.tga", "result.tga", "fifo.tga': It is not a regular file", 0, 0},
        {"picture.bmp", "result.tga", "picture.bmp': Unknown image file type", 0, 0},
        {"picture.png", "result.tga", "picture.png': Error reading PNG image", 0, 0},
        {"broken.tga", "result.tga", "broken.tga': Error reading header", 0, 0},
        {"empty.tga", "result.tga", "is empty", 0, 0},
        {"tiny.tga", "result.tga", "too small for the Level 1 window of 7 pixels", 0, 0},
        {"short.jpg", "result.tga", "short.jpg': Premature end of JPEG file", 0, 0},
        // The lying header is refused for what it claims, before its data is read.
        {"lie.jpg", "result.tga", "growing 16000x16000 from the 16000x16000 sample", 0, 0},
        {"lie.jpg", "result.tga", "Premature end of JPEG file", 64, plenty},
        {"pattern.tga", "result.tga", "needs about", 65535, 0},
        {"pattern.tga", "result.tga", "too large", 65535, plenty},
        {"pattern.tga", "result.tga", "more than the --max-memory limit of 4.0 KiB", 0, 1 << 12},
        {"pattern.tga", "no-such-folder/out.tga", "No such file or directory", 0, 0},
        {"pattern.tga", "no-such-folder/", "there is no such folder", 0, 0},
        {"pattern.tga", "fifo.tga", "fifo.tga': it is not a regular file", 0, 0},
    };
    for (const Case& c : cases) {
        SynthOptions o = options;
        o.samples = {(scratch / c.sample).string()};
        o.output = (scratch / c.output).string();
        o.width = c.side != 0 ? c.side : o.width;
        o.height = c.side != 0 ? c.side : o.height;
        o.maxMemory = c.limit;
        if (std::string(c.sample) == "lie.jpg" && c.side == 0) {
            o.width = o.height = 0;
        }
        const Outcome outcome = RunTool(o);
        EXPECT_EQ(outcome.exitCode, 1) << c.says;
        EXPECT_EQ(outcome.err.rfind("weftloom-synth: ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_EQ(outcome.err.find(".\n"), std::string::npos) << "no full stop: " << outcome.err;
        EXPECT_TRUE(outcome.out.empty());
    }
    // Nothing written, no temporary file left behind.
    EXPECT_EQ(scratch.Entries(),
              (std::vector<std::string>{"broken.tga", "empty.tga", "fifo.tga", "folder.tga",
                                        "lie.jpg", "pattern.tga", "picture.bmp", "picture.png",
                                        "short.jpg", "tiny.tga"}));
}

// A texture never replaces a sample of the run, whatever name or link leads
// to it, nor a sample that a batch has still to read: that sample fails with
// one line naming both, and every sample keeps its bytes.
TEST_F(SynthRun, ATextureNeverReplacesASample) {
    fs::create_hard_link(samplePath, scratch / "hard.tga");
    fs::create_symlink("pattern.tga", scratch / "soft.tga");
    fs::copy_file(samplePath, scratch / "pattern-synth.tga");
    const std::string s = scratch.path().string() + "/";
    struct Case {
        std::vector<std::string> samples;  // in the scratch folder
        std::string output;                // -o, or -O when it ends in '/'
        std::string replaced;              // the sample named as replaced
    };
    const Case cases[] = {
        {{"pattern.tga"}, "pattern.tga", "pattern.tga"},
        {{"pattern.tga"}, "./pattern.tga", "pattern.tga"},
        {{"pattern.tga"}, "hard.tga", "pattern.tga"},
        {{"pattern.tga"}, "soft.tga", "pattern.tga"},
        {{"soft.tga"}, "pattern.tga", "soft.tga"},
        {{"pattern.tga"}, "v/../pattern.tga", "pattern.tga"},
        {{"pattern.tga", "pattern-synth.tga"}, "./", "pattern-synth.tga"},
        {{"pattern-synth.tga", "pattern.tga"}, "./", "pattern-synth.tga"},
    };
    fs::create_directory(scratch / "v");
    const std::vector<std::uint8_t> bytes = test::ReadBytes(samplePath);
    for (const Case& c : cases) {
        SynthOptions o = options;
        o.samples.clear();
        for (const std::string& sample : c.samples) {
            o.samples.push_back(s + sample);
        }
        (c.output.back() == '/' ? o.outputFolder : o.output) = s + c.output;
        if (c.output.back() == '/') {
            o.output.clear();
        }
        const Outcome outcome = RunTool(o);
        EXPECT_EQ(outcome.exitCode, 1) << c.output;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_NE(outcome.err.find("' would replace the sample '" + s + c.replaced + "'\n"),
                  std::string::npos)
            << outcome.err;
        for (const char* sample : {"pattern.tga", "pattern-synth.tga"}) {
            EXPECT_EQ(test::ReadBytes(scratch / sample), bytes) << c.output << ": " << sample;
        }
        EXPECT_TRUE(fs::is_symlink(scratch / "soft.tga"));
        fs::remove(scratch / "pattern-synth-synth.tga");
    }
}

// Samples are read as RGB: a sample's alpha is left out, and the run says so.
TEST_F(SynthRun, ASampleWithAlphaIsSynthesisedWithoutItAndWarned) {
    const std::pair<const char*, bool> samples[] = {
        {"tga/common/200x32_rgba_tl_raw.tga", true},
        {"tga/common/200x32_la_bl_rle.tga", true},
        {"tga/common/200x32_rgb_tl_raw.tga", false},
        {"jpeg/testorig.jpg", false},
    };
    for (const auto& [name, warned] : samples) {
        SynthOptions o = options;
        o.samples = {test::DataPath(name).string()};
        o.width = o.height = 0;
        o.settings.levelAccuracy = {Accuracy::Low, Accuracy::Low, Accuracy::Medium};
        o.settings.subsampleCount = 10;
        std::filesystem::remove(o.output);
        const Outcome outcome = RunTool(o);
        ASSERT_EQ(outcome.exitCode, 0) << name << ": " << outcome.err;
        EXPECT_EQ(
            outcome.err.find("has an alpha channel, which is not synthesised") != std::string::npos,
            warned)
            << name << ": " << outcome.err;
        Image written;
        std::string reason;
        ASSERT_TRUE(LoadImageFile(options.output, written, reason)) << reason;
        EXPECT_EQ(written.bytesPerPixel, 3u);
        EXPECT_EQ(test::ReadBytes(options.output)[16], 24) << "a 24-bit file";
    }
}

TEST_F(SynthRun, MemoryAdviceNamesOnlyWhatWouldHelp) {
    struct Case {
        std::array<Accuracy, 3> accuracy;
        SubsamplingMode mode;
        std::uint32_t side;
        const char* present;
        const char* absent;
    };
    constexpr auto kHigh = std::array{Accuracy::High, Accuracy::High, Accuracy::High};
    constexpr auto kLow = std::array{Accuracy::Low, Accuracy::Low, Accuracy::Medium};
    const Case cases[] = {
        {kHigh, SubsamplingMode::Disabled, 0, "--subsampling count", nullptr},
        {kHigh, SubsamplingMode::FixedCount, 0, "a lower --accuracy", "--subsampling"},
        {kLow, SubsamplingMode::FixedCount, 0, "a smaller sample", "--accuracy"},
        {kLow, SubsamplingMode::FixedCount, 4000, "a smaller --size", "--accuracy"},
    };
    ASSERT_TRUE(WriteTga(testing::PatternImage(400, 300, 3), samplePath));
    for (const Case& c : cases) {
        SynthOptions o = options;
        o.settings.levelAccuracy = c.accuracy;
        o.settings.subsamplingMode = c.mode;
        o.width = o.height = c.side;
        o.maxMemory = 1 << 20;
        const Outcome outcome = RunTool(o);
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_NE(outcome.err.find(c.present), std::string::npos) << outcome.err;
        if (c.absent != nullptr) {
            EXPECT_EQ(outcome.err.find(c.absent), std::string::npos) << outcome.err;
        }
    }
}

TEST_F(SynthRun, OutputNamesFollowTheRules) {
    fs::create_directory(scratch / "adir");
    fs::create_directory(scratch / "v1.2");
    test::WriteBytes(scratch / "old.tga", {1, 2, 3});
    test::WriteBytes(scratch / "locked.tga", {4, 5, 6});
    fs::permissions(scratch / "locked.tga", fs::perms::owner_read | fs::perms::group_read);
    fs::create_symlink("loop2.tga", scratch / "loop1.tga");
    fs::create_symlink("loop1.tga", scratch / "loop2.tga");
    const std::string s = scratch.path().string() + "/";
    struct Case {
        std::string output;   // relative to the scratch folder unless absolute
        std::string written;  // relative to the scratch folder; empty: refused
        const char* says;     // part of the refusal
        bool force = false;
        bool noClobber = false;  // and the file written is kept as it is
        OutputFormat format = OutputFormat::Tga;
    };
    const Case cases[] = {
        {"adir", "adir/pattern-synth.tga", ""},
        {"adir/", "adir/pattern-synth.tga", ""},
        {"adir", "adir/pattern-synth.png", "", false, false, OutputFormat::Png},
        {"result", "result.tga", ""},
        {"result", "result.png", "", false, false, OutputFormat::Png},
        {"./result2", "result2.tga", ""},
        {"v1.2/out", "v1.2/out.tga", ""},
        {"photo.JPEG", "photo.tga", ""},
        {"old.tga", "old.tga", "", false, true},
        {"old.tga", "old.tga", ""},
        {"locked.tga", "locked.tga", "", true},
        {"locked.tga", "", "it is read-only; --force replaces it"},
        {"nodir/", "", "there is no such folder"},
        {"loop1.tga", "", "loop1.tga': Too many levels of symbolic links"},
        {std::string(300, 'n') + ".tga", "", "File name too long"},
        {"-", "", "cannot write to standard output ('-')"},
        {"/dev/null", "", "'/dev/null': it is not a regular file"},
        {"/dev/stdout", "", "'/dev/stdout': it is not a regular file"},
        {"/proc/self/fd/2", "", "it is not a regular file"},
        {"/dev/fd/1", "", "it is not a regular file"},
    };
    for (const Case& c : cases) {
        SynthOptions o = options;
        o.output = c.output == "-" || c.output[0] == '/' ? c.output : s + c.output;
        o.force = c.force;
        o.noClobber = c.noClobber;
        o.format = c.format;
        const OutputTarget target = ResolveOutputPath(o, samplePath);
        const Outcome outcome = RunTool(o);
        if (c.written.empty()) {
            EXPECT_TRUE(target.path.empty()) << c.output;
            EXPECT_NE(target.problem.find(c.says), std::string::npos)
                << c.output << ": " << target.problem;
            EXPECT_EQ(outcome.exitCode, 1) << c.output;
            EXPECT_EQ(outcome.err, "weftloom-synth: " + target.problem + "\n");
            continue;
        }
        EXPECT_TRUE(target.problem.empty()) << c.output << ": " << target.problem;
        EXPECT_EQ(target.kept, c.noClobber) << c.output;
        EXPECT_EQ(fs::path(target.path).lexically_normal(),
                  fs::path(s + c.written).lexically_normal())
            << c.output;
        EXPECT_EQ(outcome.exitCode, 0) << c.output << ": " << outcome.err;
        EXPECT_EQ(fs::file_size(s + c.written) > 18, !c.noClobber) << c.output;
    }
    EXPECT_FALSE(fs::exists("/dev/null.tga") || fs::exists("/dev/stdout.tga"));
    EXPECT_TRUE(fs::is_symlink(scratch / "loop1.tga"));
    EXPECT_EQ((fs::status(scratch / "locked.tga").permissions() & fs::perms::owner_write),
              fs::perms::none)
        << "--force keeps the file's permissions";

    // A symbolic link is written through: the link stays, its file changes.
    test::WriteBytes(scratch / "adir" / "real.tga", {7});
    fs::create_symlink("adir/real.tga", scratch / "link.tga");
    SynthOptions linked = options;
    linked.output = (scratch / "link.tga").string();
    ASSERT_EQ(RunTool(linked).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(scratch / "link.tga"));
    EXPECT_GT(fs::file_size(scratch / "adir" / "real.tga"), 18u);
    // And no temporary file anywhere.
    for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".weftloom"), std::string::npos)
            << entry.path();
    }
}

// A stop signal while the texture is made or while it is saved: the old
// output stays, no temporary file is left, and the status and the message
// name the signal that stopped the run. A signal ignored when the run starts
// stays ignored, and every handler is as it was afterwards.
TEST_F(SynthRun, StopSignalsKeepTheOldOutput) {
    struct Case {
        bool duringSave;           // else at the second row of a level
        std::vector<int> signals;  // raised in this order
        bool ignoreInterrupt;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {false, {SIGINT}, false, 130, "interrupted; nothing written"},
        {true, {SIGINT}, false, 130, "interrupted; nothing written"},
        {true, {SIGTERM}, false, 143, "terminated; nothing written"},
        {true, {SIGINT, SIGTERM}, true, 143, "terminated; nothing written"},
    };
    const auto temporaryFiles = [this] {
        std::size_t found = 0;
        for (const std::string& name : scratch.Entries()) {
            found += name.find(".weftloom") != std::string::npos ? 1 : 0;
        }
        return found;
    };
    for (const Case& c : cases) {
        test::WriteBytes(options.output, {'o', 'l', 'd'});
        bool raised = false;
        std::size_t temporaryWhileSaving = 0;
        const auto raise = [&raised, &c] {
            raised = true;
            for (const int signal : c.signals) {
                std::raise(signal);
            }
        };
        SynthRunContext context;
        if (c.duringSave) {
            context.writeBlock = [&](std::FILE* file, const std::uint8_t* data, std::size_t size) {
                const bool taken = std::fwrite(data, 1, size, file) == size;
                if (!raised) {
                    temporaryWhileSaving = temporaryFiles();
                    raise();
                }
                return taken;
            };
        } else {
            context.observer = [&](const ProgressInfo& info) {
                if (!raised && info.row == 2) {
                    raise();
                }
            };
        }
        const auto before = c.ignoreInterrupt ? SIG_IGN : SIG_DFL;
        const auto previous = std::signal(SIGINT, before);
        const Outcome outcome = RunTool(options, std::move(context));
        EXPECT_EQ(std::signal(SIGINT, previous), before) << c.says;
        EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), SIG_DFL) << c.says;

        EXPECT_TRUE(raised) << c.says;
        EXPECT_EQ(outcome.exitCode, c.status) << c.says;
        EXPECT_EQ(outcome.err, std::string("weftloom-synth: ") + c.says + "\n");
        EXPECT_TRUE(outcome.out.empty());
        EXPECT_EQ(test::ReadBytes(options.output), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(temporaryWhileSaving, c.duringSave ? 1u : 0u) << c.says;
        EXPECT_EQ(temporaryFiles(), 0u) << c.says;
    }
}

// Ctrl+C in a batch after one texture: the summary counts it, a line names
// the samples not made, and the status is the signal's.
TEST_F(SynthRun, AStopInABatchSaysWhatWasWrittenAndWhatWasNot) {
    options.output.clear();
    options.outputFolder = (scratch / "out").string();
    for (const char* name : {"second.tga", "third.tga"}) {
        fs::copy_file(samplePath, scratch / name);
        options.samples.push_back((scratch / name).string());
    }
    const fs::path first = scratch / "out" / "pattern-synth.tga";
    SynthRunContext context;
    context.observer = [&first, raised = false](const ProgressInfo& info) mutable {
        if (!raised && info.row == 2 && fs::exists(first)) {
            raised = true;
            std::raise(SIGINT);
        }
    };
    const Outcome outcome = RunTool(options, std::move(context));
    EXPECT_EQ(outcome.exitCode, 130);
    EXPECT_NE(outcome.out.find("weftloom-synth: 1 written, 0 failed, 2 not made, in "),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.err, "weftloom-synth: interrupted; not made: '" + options.samples[1] +
                               "', '" + options.samples[2] + "'\n");
    EXPECT_EQ(scratch.Entries().size(), 4u) << "no file but the samples and the folder";
    EXPECT_TRUE(fs::exists(first));
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch / "out"), {}), 1) << "only the first";
}

// A write past the file-size limit fails with the system's reason, naming
// the file once, and keeps the old output.
TEST_F(SynthRun, AFileSizeLimitFailsTheSaveAndKeepsTheOldOutput) {
    test::WriteBytes(options.output, {'o', 'l', 'd'});
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit previous = limit;
    limit.rlim_cur = 1000;  // the texture takes 30 x 26 x 3 bytes and a header
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const Outcome outcome = RunTool(options);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &previous), 0);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.err,
              "weftloom-synth: cannot write '" + options.output + "': File too large\n");
    EXPECT_EQ(test::ReadBytes(options.output), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"pattern.tga", "result.tga"}));
}

TEST_F(SynthRun, TerminalShowsOneRedrawnLineThatFitsAndClearsIt) {
    const Outcome wide = RunTool(options, Terminal(200));
    ASSERT_EQ(wide.exitCode, 0) << wide.err;
    EXPECT_EQ(wide.err.find('\n'), std::string::npos) << "redrawn in place, never scrolled";
    EXPECT_NE(wide.err.find("\rInitialising output"), std::string::npos);
    // The status padded, then the step's bar and the whole run's, filling.
    EXPECT_NE(wide.err.find("\rSynthesizing            [--------------------]   0%  overall [####"),
              std::string::npos);
    EXPECT_NE(wide.err.find("time left"), std::string::npos);
    EXPECT_EQ(wide.err.substr(wide.err.size() - 4), "\r\x1b[K") << "cleared at the end";

    // Narrower terminals: every drawing keeps the last column free.
    for (const int columns : {80, 60, 40, 12}) {
        std::filesystem::remove(options.output);
        const Outcome outcome = RunTool(options, Terminal(columns));
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
        std::istringstream drawings(outcome.err);
        for (std::string drawing; std::getline(drawings, drawing, '\r');) {
            const std::string text = drawing.substr(0, drawing.find("\x1b"));
            EXPECT_LT(static_cast<int>(text.size()), columns) << "'" << text << "'";
        }
    }
    // A bar is clamped, a step of no work is no division by zero, and the
    // narrowest line keeps the overall percentage.
    EXPECT_EQ(ProgressBar(12, 10, 4), "[####] 100%");
    EXPECT_EQ(ProgressBar(0, 0, 4), "[----]   0%");
    ProgressLine line{"Synthesizing", 5, 10, 30, 40, "1 s"};
    EXPECT_EQ(line.Render(60), "Synthesizing             overall  75%  time left 1 s");
    EXPECT_EQ(line.Render(80).size(), 79u);

    options.quiet = true;
    std::filesystem::remove(options.output);
    const Outcome quiet = RunTool(options, Terminal(200));
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.err.empty());
}

TEST_F(SynthRun, ADumbTerminalGetsNoEscapesAndALogGetsALinePerPhase) {
    const Outcome dumb = RunTool(options, Terminal(80, true));
    ASSERT_EQ(dumb.exitCode, 0) << dumb.err;
    EXPECT_EQ(dumb.err.find('\x1b'), std::string::npos);
    EXPECT_NE(dumb.err.find("\rSynthesizing"), std::string::npos);
    EXPECT_EQ(dumb.err.find_first_not_of(" \r", dumb.err.rfind('\r', dumb.err.size() - 2)),
              std::string::npos)
        << "blanked at the end";

    std::filesystem::remove(options.output);
    options.progress = ProgressMode::Log;
    const Outcome log = RunTool(options);  // not a terminal
    ASSERT_EQ(log.exitCode, 0) << log.err;
    EXPECT_EQ(log.err.find('\r'), std::string::npos);
    EXPECT_EQ(log.err.find('\x1b'), std::string::npos);
    std::vector<std::string> lines;
    std::istringstream in(log.err);
    for (std::string text; std::getline(in, text);) {
        lines.push_back(text);
    }
    // Three set-up phases, then a cloud and a pass for each of four levels.
    ASSERT_EQ(lines.size(), 3u + 8u) << log.err;
    EXPECT_EQ(lines[0], "weftloom-synth:   0% Initialising output");
    EXPECT_EQ(lines[3], "weftloom-synth:   0% Building data cloud, level 4 of 4");
    EXPECT_NE(lines.back().find("% Synthesizing, level 1 of 4"), std::string::npos);
    // The whole run's percentage never goes back.
    int previous = 0;
    for (const std::string& text : lines) {
        const int percent = std::stoi(text.substr(text.find(':') + 1));
        EXPECT_GE(percent, previous) << text;
        previous = percent;
    }
    EXPECT_GT(previous, 0);
}

}  // namespace
}  // namespace weftloom
