#include "cli/synth_options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace weftloom {
namespace {

struct Parsed {
    std::optional<int> exitCode;
    SynthOptions options;
    std::string out;
    std::string err;
};

// Parses a command line given as one string, its words apart by spaces.
Parsed Parse(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    std::vector<const char*> args = {"weftloom-synth"};
    for (const std::string& word : words) {
        args.push_back(word.c_str());
    }
    Parsed parsed;
    std::ostringstream out, err;
    parsed.exitCode =
        ParseSynthOptions(static_cast<int>(args.size()), args.data(), parsed.options, out, err);
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(SynthOptions, EveryOptionReachesItsField) {
    const Parsed p = Parse(
        "-o out/result.tga --size 320X200 --accuracy medium,LOW,low --subsampling percent "
        "--count 99 --percent 25 --min-pixels 0 --metric linf --seed 4294967295 --threads 3 "
        "-q in.jpg");
    ASSERT_FALSE(p.exitCode.has_value()) << p.err;
    EXPECT_EQ(p.options.sample, "in.jpg");
    EXPECT_EQ(p.options.output, "out/result.tga");
    EXPECT_EQ(p.options.width, 320u);
    EXPECT_EQ(p.options.height, 200u);
    SynthesisSettings expected;
    expected.levelAccuracy = {Accuracy::Medium, Accuracy::Low, Accuracy::Low};
    expected.subsamplingMode = SubsamplingMode::Percentage;
    expected.subsampleCount = 99;
    expected.subsamplePercent = 25;
    expected.minimumPixelCount = 0;
    expected.metric = DistanceMetric::Linf;
    expected.randomSeed = 4294967295u;
    expected.threadCount = 3;
    EXPECT_EQ(p.options.settings, expected);
    EXPECT_TRUE(p.options.quiet);

    const SynthesisSettings other = Parse("a.tga --subsampling off --metric L1").options.settings;
    EXPECT_EQ(other.subsamplingMode, SubsamplingMode::Disabled);
    EXPECT_EQ(other.metric, DistanceMetric::L1);
    EXPECT_EQ(Parse("a.tga -s 1x65535").options.height, 65535u);

    // Only the sample: the defaults, the size and output left to the run.
    const Parsed bare = Parse("wall.tga");
    ASSERT_FALSE(bare.exitCode.has_value()) << bare.err;
    EXPECT_EQ(bare.options.settings, SynthesisSettings{});
    EXPECT_TRUE(bare.options.output.empty() && bare.options.width == 0 && !bare.options.quiet);
    EXPECT_EQ(bare.options.height, 0u);
}

TEST(SynthOptions, UsageErrorsAreOneNamedLineAndExitTwo) {
    for (const char* line :
         {"", "a.tga b.tga", "a.tga --size 0x10", "a.tga --size 65536x10", "a.tga --size 10",
          "a.tga --size 10x-3", "a.tga --accuracy high,high", "a.tga --accuracy high,best,low",
          "a.tga --subsampling sometimes", "a.tga --metric l3", "a.tga --count 0",
          "a.tga --count many", "a.tga --percent 101", "a.tga --seed 4294967296",
          "a.tga --min-pixels -1", "a.tga --threads 257", "a.tga --frobnicate"}) {
        const Parsed p = Parse(line);
        ASSERT_TRUE(p.exitCode.has_value()) << line;
        EXPECT_EQ(*p.exitCode, 2) << line;
        EXPECT_EQ(p.err.rfind("weftloom-synth: ", 0), 0u) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
        EXPECT_TRUE(p.out.empty());
    }
}

TEST(SynthOptions, HelpAndVersionPrintAndEndSuccessfully) {
    const Parsed help = Parse("--help");
    EXPECT_EQ(help.exitCode, 0);
    // The defaults shown are the ones a run starts from.
    for (const char* shown : {"--accuracy", "(default high,high,high)", "(default count)",
                              "(default 2500)", "(default l2)"}) {
        EXPECT_NE(help.out.find(shown), std::string::npos) << shown;
    }
    const Parsed version = Parse("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("weftloom-synth ", 0), 0u) << version.out;
}

TEST(SynthOptions, SearchChoiceAndCoherentSettings) {
    // exact is the default and today's search; coherent takes its own settings.
    EXPECT_EQ(Parse("a.tga").options.settings.searchMethod, SearchMethod::Exact);
    EXPECT_EQ(Parse("a.tga --search EXACT").options.settings.searchMethod, SearchMethod::Exact);
    const Parsed p = Parse(
        "a.tga --search coherent --similar 7 --corrections 0 --random-tries 5 --spread 0 "
        "--max-piece 100");
    ASSERT_FALSE(p.exitCode.has_value()) << p.err;
    SynthesisSettings expected;
    expected.searchMethod = SearchMethod::Coherent;
    expected.coherenceSetSize = 7;
    expected.correctionPasses = 0;
    expected.randomCandidates = 5;
    expected.occurrenceWeight = 0;
    expected.pieceLimitPercent = 100;
    EXPECT_EQ(p.options.settings, expected);

    for (const char* line :
         {"a.tga --search fast", "a.tga --search", "a.tga --similar 65", "a.tga --corrections -1",
          "a.tga --corrections 17", "a.tga --random-tries 65", "a.tga --spread 1025",
          "a.tga --max-piece 0", "a.tga --max-piece 101", "a.tga --similar two"}) {
        const Parsed bad = Parse(line);
        ASSERT_TRUE(bad.exitCode.has_value()) << line;
        EXPECT_EQ(*bad.exitCode, 2) << line;
        EXPECT_EQ(bad.err.rfind("weftloom-synth: ", 0), 0u) << bad.err;
    }

    // Help names the choice and shows the coherent search's defaults.
    const SynthesisSettings defaults;
    const std::string help = Parse("--help").out;
    for (const std::string& shown :
         {std::string("--search"), std::string("(default exact)"), std::string("--similar"),
          "(default " + std::to_string(defaults.coherenceSetSize) + ")", std::string("--spread"),
          "(default " + std::to_string(defaults.occurrenceWeight) + ")", std::string("--max-piece"),
          std::string("--corrections"), std::string("--random-tries")}) {
        EXPECT_NE(help.find(shown), std::string::npos) << shown;
    }
}

TEST(SynthOptions, DefaultOutputIsTheSampleNameHere) {
    EXPECT_EQ(DefaultOutputPath("textures/photo.jpg"), "photo-synth.tga");
    EXPECT_EQ(DefaultOutputPath("/abs/my.wall.TGA"), "my.wall-synth.tga");
    EXPECT_EQ(DefaultOutputPath("plain"), "plain-synth.tga");
}

}  // namespace
}  // namespace weftloom
