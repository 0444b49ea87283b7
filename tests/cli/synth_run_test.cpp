#include "cli/synth_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "cli/progress_line.h"
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

Outcome RunTool(const SynthOptions& options, std::function<void(const ProgressInfo&)> observer = {},
                bool terminal = false) {
    std::ostringstream out;
    std::ostringstream err;
    SynthRunContext context;
    context.out = &out;
    context.err = &err;
    context.errIsTerminal = terminal;
    context.observer = std::move(observer);
    const int code = RunSynth(options, context);
    return {code, out.str(), err.str()};
}

class SynthRun : public ::testing::Test {
  protected:
    void SetUp() override {
        samplePath = (scratch / "pattern.tga").string();
        ASSERT_TRUE(WriteTga(testing::PatternImage(24, 20, 3), samplePath));
        options.sample = samplePath;
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

TEST_F(SynthRun, FailuresNameTheFileAndLeaveNothingBehind) {
    test::WriteBytes(scratch / "broken.tga", {0, 0, 2, 0, 0});
    test::WriteBytes(scratch / "empty.tga",
                     {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 24, 0x20});
    ASSERT_TRUE(WriteTga(testing::PatternImage(8, 8, 3), (scratch / "tiny.tga").string()));
    fs::create_directory(scratch / "folder.d");
    struct Case {
        const char* sample;
        const char* output;
        const char* expected;  // part of the error line
        std::uint32_t side;    // of the output; 0: as set up
    };
    const Case cases[] = {
        {"absent.tga", "result.tga", "absent.tga", 0},
        {"picture.png", "result.tga", "picture.png", 0},
        {"broken.tga", "result.tga", "broken.tga", 0},
        {"empty.tga", "result.tga", "is empty", 0},
        {"tiny.tga", "result.tga", "too small", 0},
        {"pattern.tga", "result.tga", "too large", 65535},
        {"pattern.tga", "no-such-folder/out.tga", "cannot write", 0},
        {"pattern.tga", "folder.d", "it is a folder", 0},
    };
    for (const Case& c : cases) {
        SynthOptions o = options;
        o.sample = (scratch / c.sample).string();
        o.output = (scratch / c.output).string();
        o.width = c.side != 0 ? c.side : o.width;
        o.height = c.side != 0 ? c.side : o.height;
        const Outcome outcome = RunTool(o);
        EXPECT_EQ(outcome.exitCode, 1) << c.sample;
        EXPECT_EQ(outcome.err.rfind("weftloom-synth: ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.expected), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_TRUE(outcome.out.empty());
    }
    // Nothing written, no temporary file left behind.
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"broken.tga", "empty.tga", "folder.d",
                                                           "pattern.tga", "tiny.tga"}));
}

TEST_F(SynthRun, InterruptAbortsAndKeepsTheOldOutput) {
    test::WriteBytes(options.output, {1, 2, 3});
    int reports = 0;
    const Outcome outcome = RunTool(options, [&reports](const ProgressInfo& info) {
        ++reports;
        if (info.row == 2) {
            std::raise(SIGINT);
        }
    });
    EXPECT_EQ(outcome.exitCode, 130);
    EXPECT_NE(outcome.err.find("interrupted"), std::string::npos) << outcome.err;
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_EQ(test::ReadBytes(options.output), (std::vector<std::uint8_t>{1, 2, 3}));
    // After the run the previous handler is back: ignore SIGINT for this check.
    auto* previous = std::signal(SIGINT, SIG_IGN);
    EXPECT_NE(previous, SIG_ERR);
    std::signal(SIGINT, previous);
    EXPECT_GT(reports, 0);
}

TEST_F(SynthRun, TerminalShowsOneRedrawnLineAndClearsIt) {
    const Outcome outcome = RunTool(options, {}, true);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.err.find('\n'), std::string::npos) << "redrawn in place, never scrolled";
    EXPECT_NE(outcome.err.find("\rInitialising output"), std::string::npos);
    // The status padded, then the step's bar and the whole run's, filling.
    EXPECT_NE(
        outcome.err.find("\rSynthesizing            [--------------------]   0%  overall [####"),
        std::string::npos);
    EXPECT_NE(outcome.err.find("time left"), std::string::npos);
    EXPECT_EQ(outcome.err.substr(outcome.err.size() - 4), "\r\x1b[K") << "cleared at the end";
    // A bar is clamped, and a step of no work is no division by zero.
    EXPECT_EQ(ProgressBar(12, 10, 4), "[####] 100%");
    EXPECT_EQ(ProgressBar(0, 0, 4), "[----]   0%");

    options.quiet = true;
    std::filesystem::remove(options.output);
    const Outcome quiet = RunTool(options, {}, true);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.err.empty());
}

}  // namespace
}  // namespace weftloom
