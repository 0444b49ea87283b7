#include "cli/synth_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
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
    options.settings.metric = DistanceMetric::L1;
    options.settings.subsamplingMode = SubsamplingMode::Percentage;
    options.settings.subsamplePercent = 30;
    options.settings.minimumPixelCount = 10;
    options.settings.randomSeed = 7;
    const Outcome outcome = RunTool(options);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(outcome.err.empty()) << "not a terminal: no progress drawn";
    EXPECT_EQ(outcome.out.rfind("weftloom-synth: wrote " + options.output + " (30x26) in ", 0), 0u)
        << outcome.out;

    Image written;
    std::string reason;
    ASSERT_TRUE(LoadImageFile(options.output, written, reason)) << reason;

    // The same job set up by hand, with the sides the accuracy names.
    TextureSynthesiser job;
    job.neighbourhoodSize = {7, 3, 1};
    job.metric = DistanceMetric::L1;
    job.subsamplingMode = SubsamplingMode::Percentage;
    job.subsamplePercent = 30;
    job.minimumPixelCount = 10;
    job.randomSeed = 7;
    Image sample;
    ASSERT_TRUE(LoadImageFile(samplePath, sample, reason));
    ASSERT_TRUE(job.Synthesise(sample, 30, 26));
    EXPECT_EQ(written.pixels, job.result->pixels);
}

TEST_F(SynthRun, JpegNamesAreWrittenAsTga) {
    options.output = (scratch / "result.JPG").string();
    const Outcome outcome = RunTool(options);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(fs::exists(scratch / "result.tga"));
    EXPECT_FALSE(fs::exists(scratch / "result.JPG"));
    EXPECT_NE(outcome.out.find("result.tga"), std::string::npos);
}

TEST_F(SynthRun, FailuresNameTheFileAndLeaveNothingBehind) {
    test::WriteBytes(scratch / "broken.tga", {0, 0, 2, 0, 0});
    Image zeroWide;
    zeroWide.Allocate(0, 4, 3);
    std::vector<std::uint8_t> emptyTga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 24, 0x20};
    test::WriteBytes(scratch / "empty.tga", emptyTga);
    ASSERT_TRUE(WriteTga(testing::PatternImage(8, 8, 3), (scratch / "tiny.tga").string()));

    struct Case {
        std::string sample;
        std::string output;
        std::string expected;  // part of the error line
    };
    fs::create_directory(scratch / "folder.d");
    const std::string missingFolder = (scratch / "no-such-folder" / "out.tga").string();
    const std::vector<Case> cases = {
        {(scratch / "absent.tga").string(), options.output, "absent.tga"},
        {(scratch / "picture.png").string(), options.output, "picture.png"},
        {(scratch / "broken.tga").string(), options.output, "broken.tga"},
        {(scratch / "empty.tga").string(), options.output, "is empty"},
        {(scratch / "tiny.tga").string(), options.output, "too small"},
        {samplePath, missingFolder, "cannot write"},
        {samplePath, (scratch / "folder.d").string(), "it is a folder"},
    };
    for (const Case& c : cases) {
        SynthOptions o = options;
        o.sample = c.sample;
        o.output = c.output;
        const Outcome outcome = RunTool(o);
        EXPECT_EQ(outcome.exitCode, 1) << c.sample;
        EXPECT_EQ(outcome.err.rfind("weftloom-synth: ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.expected), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_TRUE(outcome.out.empty());
    }
    EXPECT_FALSE(fs::exists(scratch / "result.tga"));
    EXPECT_FALSE(fs::exists(scratch / "no-such-folder"));
    for (const std::string& entry : scratch.Entries()) {
        EXPECT_EQ(entry.find(".weftloom"), std::string::npos) << "left behind: " << entry;
        EXPECT_NE(entry, "result.tga");
    }
}

TEST_F(SynthRun, TooLargeAnOutputIsRefusedUpFront) {
    options.width = 65535;
    options.height = 65535;
    const Outcome outcome = RunTool(options);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.err.find("too large"), std::string::npos) << outcome.err;
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
    EXPECT_NE(outcome.err.find("Synthesizing"), std::string::npos);
    EXPECT_NE(outcome.err.find("time left"), std::string::npos);
    EXPECT_EQ(outcome.err.substr(outcome.err.size() - 4), "\r\x1b[K") << "cleared at the end";

    options.quiet = true;
    std::filesystem::remove(options.output);
    const Outcome quiet = RunTool(options, {}, true);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.err.empty());
}

TEST(ProgressLine, BarsPercentagesAndTimeLeft) {
    EXPECT_EQ(ProgressBar(5, 10, 10), "[#####-----]  50%");
    EXPECT_EQ(ProgressBar(0, 0, 4), "[----]   0%");
    EXPECT_EQ(ProgressBar(12, 10, 4), "[####] 100%");
    ProgressLine line;
    line.status = "Synthesizing";
    line.stepDone = 1;
    line.stepTotal = 4;
    line.overallDone = 3;
    line.overallTotal = 4;
    EXPECT_EQ(line.Render(),
              "Synthesizing            [#####---------------]  25%  overall "
              "[###############-----]  75%");
    line.timeLeft = "00:00:09";
    EXPECT_EQ(line.Render().substr(line.Render().size() - 18), "time left 00:00:09");
}

}  // namespace
}  // namespace weftloom
