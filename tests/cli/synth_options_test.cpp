#include "cli/synth_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
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

// Parses a command line given word by word.
Parsed ParseWords(const std::vector<std::string>& words) {
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

// Parses a command line given as one string, its words apart by spaces.
Parsed Parse(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return ParseWords(words);
}

// Every option set to a value other than its default: an option that sets
// another option's field, or none, shows in the whole settings.
TEST(SynthOptions, EveryOptionReachesItsField) {
    const Parsed p = Parse(
        "-o out/result --format PNG --size 320X200 --accuracy medium,LOW,low --subsampling percent "
        "--count 99 --percent 25 --min-pixels 0 --metric linf --seed 4294967295 --threads 3 "
        "--search Coherent --similar 7 --corrections 0 --random-tries 5 --spread 0 --max-piece 100 "
        "--courses Rows --max-memory 640m --force --progress LOG -q in.jpg");
    ASSERT_FALSE(p.exitCode.has_value()) << p.err;
    EXPECT_EQ(p.options.samples, std::vector<std::string>{"in.jpg"});
    EXPECT_EQ(p.options.output, "out/result");
    EXPECT_EQ(p.options.format, OutputFormat::Png);
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
    expected.searchMethod = SearchMethod::Coherent;
    expected.coherenceSetSize = 7;
    expected.correctionPasses = 0;
    expected.randomCandidates = 5;
    expected.occurrenceWeight = 0;
    expected.pieceLimitPercent = 100;
    expected.courses = CourseLayout::Rows;
    EXPECT_EQ(p.options.settings, expected);
    EXPECT_EQ(p.options.maxMemory, 640ull << 20);
    EXPECT_TRUE(p.options.force && !p.options.noClobber && p.options.quiet);
    EXPECT_EQ(p.options.progress, ProgressMode::Log);

    const SynthesisSettings other = Parse("a.tga --subsampling off --metric L1").options.settings;
    EXPECT_EQ(other.subsamplingMode, SubsamplingMode::Disabled);
    EXPECT_EQ(other.metric, DistanceMetric::L1);
    EXPECT_EQ(Parse("a.tga -s 1x65535").options.height, 65535u);
    EXPECT_TRUE(Parse("a.tga --no-clobber").options.noClobber);
    const Parsed batch = Parse("a.tga -O out b.png -s 8x8 c.jpg");
    ASSERT_FALSE(batch.exitCode.has_value()) << batch.err;
    EXPECT_EQ(batch.options.samples, (std::vector<std::string>{"a.tga", "b.png", "c.jpg"}));
    EXPECT_EQ(batch.options.outputFolder, "out");

    // Only the sample: the defaults, the size, output and memory left to the run.
    const Parsed bare = Parse("wall.tga");
    ASSERT_FALSE(bare.exitCode.has_value()) << bare.err;
    EXPECT_EQ(bare.options.settings, SynthesisSettings{});
    EXPECT_TRUE(bare.options.output.empty() && bare.options.width == 0 && !bare.options.quiet);
    EXPECT_EQ(bare.options.height, 0u);
    EXPECT_EQ(bare.options.maxMemory, 0u);
    EXPECT_EQ(bare.options.progress, ProgressMode::Auto);
    EXPECT_EQ(bare.options.format, OutputFormat::Tga);
    EXPECT_TRUE(bare.err.empty()) << bare.err;
}

// A usage error ends the program with status 2; a warning lets it run. Both
// are one line; nullptr: nothing is said.
TEST(SynthOptions, UsageErrorsAndWarningsSayWhatIsWrongInOneLine) {
    struct Case {
        std::vector<std::string> words;
        const char* says;
        bool runs = false;  // a warning, or nothing
    };
    const Case cases[] = {
        {{}, "no SAMPLE given"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-V"}, "unknown option '-V'"},
        {{"a.tga", "-v"}, "unknown option '-v'"},
        {{"a.tga", "b.tga", "-o", "x.tga"}, "-o names the texture of one sample; for 2 samples"},
        {{"a.tga", "-o", "x.tga", "-O", "out"}, "give one of them"},
        {{"a.tga", "-O", ""}, "--output-dir: the folder name is empty"},
        {{"a.tga", "--frobnicate=3"}, "unknown option '--frobnicate'"},
        {{"a.tga", "--seed", "1", "--seed", "2"}, "--seed is given more than once"},
        {{"a.tga", "-o", "x.tga", "--output", "y.tga"}, "--output is given more than once"},
        {{"a.tga", "--count"}, "--count needs a value"},
        {{"a.tga", "-o", ""}, "--output: the file name is empty"},
        {{"a.tga", "--size", "0x10"}, "each side 1 to 65535, got '0x10'"},
        {{"a.jpg", "--fill", "m.png", "-s", "10x10"}, "--size does not go with a fill"},
        {{"a.png", "--fill", "m.png", "--fill-transparent"}, "give one"},
        {{"a.jpg", "--fill-from", "3"}, "--fill-from applies to a fill"},
        {{"a.jpg", "--fill", ""}, "--fill: the mask's file name is empty"},
        {{"a.tga", "--size", "65536x10"}, "got '65536x10'"},
        {{"a.tga", "-s", "10"}, "expected WxH"},
        {{"a.tga", "-s", "10x-3"}, "got '10x-3'"},
        {{"a.tga", "-s", ""}, "got ''"},
        {{"a.tga", "-s", " 8x8"}, "got ' 8x8'"},
        {{"a.tga", "-s", "+8x8"}, "got '+8x8'"},
        {{"a.tga", "--accuracy", "high,high"}, "expected three of high|medium|low"},
        {{"a.tga", "--accuracy", ""}, "expected three of high|medium|low"},
        {{"a.tga", "--accuracy", "high,best,low"}, "'best' is not high, medium or low"},
        {{"a.tga", "--subsampling", "sometimes"}, "'sometimes' is not off, percent or count"},
        {{"a.tga", "--metric", "l3"}, "'l3' is not l1, l2 or linf"},
        {{"a.tga", "--progress", "bar"}, "'bar' is not auto, log or none"},
        // Numbers: decimal digits only, and a value out of range names the range.
        {{"a.tga", "--count", "0"}, "--count: 0 is out of range; expected 1 to 2147483647"},
        {{"a.tga", "--count", "many"}, "--count: expected a whole number from 1 to 2147483647"},
        {{"a.tga", "--count", " 5"}, "in decimal digits, got ' 5'"},
        {{"a.tga", "--count", "+5"}, "got '+5'"},
        {{"a.tga", "--count", ""}, "got ''"},
        {{"a.tga", "--seed", "0x8"}, "--seed: expected a whole number from 0 to 4294967295"},
        {{"a.tga", "--seed", "4294967296"}, "4294967296 is out of range; expected 0 to 4294967295"},
        {{"a.tga", "--seed", "99999999999999999999999"}, "is out of range"},
        {{"a.tga", "--percent", "101"}, "--percent: 101 is out of range; expected 1 to 100"},
        {{"a.tga", "--min-pixels", "-1"}, "--min-pixels: expected a whole number"},
        {{"a.tga", "--threads", "257"}, "--threads: 257 is out of range; expected 0 to 256"},
        {{"a.tga", "--threads", "1e3"}, "got '1e3'"},
        {{"a.tga", "--max-memory", "4Q"}, "--max-memory: expected a size such as 512M or 4G"},
        {{"a.tga", "--max-memory", "0"}, "--max-memory: the limit must be more than 0"},
        {{"a.tga", "--max-memory", "0G"}, "must be more than 0"},
        {{"a.tga", "--max-memory", "G"}, "got 'G'"},
        {{"a.tga", "--max-memory", "99999999999T"}, "got '99999999999T'"},
        {{"a.tga", "--similar", "65"}, "--similar: 65 is out of range; expected 0 to 64"},
        {{"a.tga", "--similar", "two"}, "--similar: expected a whole number"},
        {{"a.tga", "--corrections", "-1"}, "--corrections: expected a whole number"},
        {{"a.tga", "--corrections", "17"}, "--corrections: 17 is out of range; expected 0 to 16"},
        {{"a.tga", "--random-tries", "65"}, "--random-tries: 65 is out of range"},
        {{"a.tga", "--spread", "1025"}, "--spread: 1025 is out of range; expected 0 to 1024"},
        {{"a.tga", "--max-piece", "0"}, "--max-piece: 0 is out of range; expected 1 to 100"},
        {{"a.tga", "--max-piece", "101"}, "--max-piece: 101 is out of range"},
        {{"a.tga", "--search", "fast"}, "--search: 'fast' is not exact or coherent"},
        {{"a.tga", "--search", "coherent", "--courses", "diagonal"},
         "--courses: 'diagonal' is not auto, off, rows or columns"},
        {{"a.tga", "--search"}, "--search needs a value"},
        {{"a.tga", "--force", "--no-clobber"}, "--force and --no-clobber contradict"},
        {{"a.tga", "--format", "gif"}, "--format: 'gif' is not tga or png"},
        // -o's ending names a format the tool writes, and the one --format asks for.
        {{"a.tga", "-o", "out.bmp"},
         "'out.bmp' names no format this tool writes; end it in .tga or"},
        {{"a.tga", "-o", "out.webp"}, "'out.webp' names no format"},
        {{"a.tga", "-o", "out.tga", "--format", "png"}, "ask for different formats"},
        {{"a.tga", "-o", "photo.jpg", "--format", "png"}, "ask for different formats"},
        {{"a.tga", "-o", "out.PNG", "--format", "png"}, nullptr, true},
        {{"a.tga", "-o", "photo.jpeg", "--format", "tga"}, nullptr, true},
        {{"a.tga", "-o", "out", "--format", "png"}, nullptr, true},
        {{"a.tga", "-o", "some.folder/"}, nullptr, true},
        // Options of the other search are named, once, and the run goes on.
        {{"a.tga", "--similar", "3", "--spread", "2"},
         "warning: the exact search does not use --similar and --spread; they apply to --search "
         "coherent",
         true},
        {{"a.tga", "--search", "exact", "--max-piece", "5"}, "does not use --max-piece; it", true},
        {{"a.tga", "--search", "coherent", "--subsampling", "off", "--count", "9"},
         "warning: the coherent search does not use --subsampling and --count",
         true},
        {{"a.tga", "--search", "coherent", "--corrections", "2", "--metric", "l1"}, nullptr, true},
        {{"a.tga", "--percent", "5", "--min-pixels", "0"}, nullptr, true},
    };
    for (const Case& c : cases) {
        const Parsed p = ParseWords(c.words);
        const std::string line = ::testing::PrintToString(c.words);
        EXPECT_EQ(p.exitCode, c.runs ? std::nullopt : std::optional<int>(2)) << line;
        EXPECT_TRUE(p.out.empty());
        if (c.says == nullptr) {
            EXPECT_TRUE(p.err.empty()) << line << " said " << p.err;
            continue;
        }
        EXPECT_EQ(p.err.rfind("weftloom-synth: ", 0), 0u) << p.err;
        EXPECT_NE(p.err.find(c.says), std::string::npos) << line << " said " << p.err;
        EXPECT_EQ(p.err.find("required"), std::string::npos) << "CLI11's words: " << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
    }
}

TEST(SynthOptions, NumbersAreDecimalAndSizesTakeBinaryUnits) {
    const Parsed leading = Parse("a.tga --count 010 --seed 0008 --threads 00");
    ASSERT_FALSE(leading.exitCode.has_value()) << leading.err;
    EXPECT_EQ(leading.options.settings.subsampleCount, 10) << "decimal, never octal";
    EXPECT_EQ(leading.options.settings.randomSeed, 8u);
    const std::pair<const char*, std::uint64_t> sizes[] = {
        {"1048576", 1048576}, {"512K", 512ull << 10}, {"640m", 640ull << 20}, {"4G", 4ull << 30},
        {"4GiB", 4ull << 30}, {"2gb", 2ull << 30},    {"1T", 1ull << 40},     {"100B", 100},
    };
    for (const auto& [text, bytes] : sizes) {
        const Parsed p = ParseWords({"a.tga", "--max-memory", text});
        ASSERT_FALSE(p.exitCode.has_value()) << p.err;
        EXPECT_EQ(p.options.maxMemory, bytes) << text;
    }
}

// Help shows the defaults a run starts from, fits a terminal and is what the
// README shows.
TEST(SynthOptions, HelpAndVersionPrintAndEndSuccessfully) {
    const Parsed help = Parse("--help");
    EXPECT_EQ(help.exitCode, 0);
    // The defaults shown are the ones a run starts from.
    const SynthesisSettings defaults;
    for (const std::string& shown :
         {std::string("--accuracy A1,A2,A3"), std::string("(default high,high,high)"),
          std::string("(default count)"), std::string("(default 2500)"),
          std::string("(default l2)"), std::string("--search exact|coherent"),
          std::string("(default exact)"),
          "(default " + std::to_string(defaults.coherenceSetSize) + ")",
          "(default " + std::to_string(defaults.occurrenceWeight) + ")", std::string("--max-piece"),
          std::string("(default auto)")}) {
        EXPECT_NE(help.out.find(shown), std::string::npos) << shown;
    }
    // A terminal of 80 columns shows every line whole.
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LT(line.size(), 80u) << line;
    }
    // The README shows help as the tool prints it.
    std::ifstream readme(WEFTLOOM_README);
    const std::string text{std::istreambuf_iterator<char>(readme), {}};
    const std::string opening = "## The command-line tool\n\n```\n";
    const std::size_t block = text.find(opening);
    ASSERT_NE(block, std::string::npos) << "no help block in " << WEFTLOOM_README;
    const std::size_t start = block + opening.size();
    EXPECT_EQ(text.substr(start, text.find("```", start) - start), help.out);

    const Parsed version = Parse("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("weftloom-synth ", 0), 0u) << version.out;
}

TEST(SynthOptions, DefaultOutputIsTheSampleNameHere) {
    EXPECT_EQ(DefaultOutputPath("textures/photo.jpg"), "photo-synth.tga");
    EXPECT_EQ(DefaultOutputPath("/abs/my.wall.TGA"), "my.wall-synth.tga");
    EXPECT_EQ(DefaultOutputPath("plain"), "plain-synth.tga");
    EXPECT_EQ(DefaultOutputPath("dir.d/photo.jpg", OutputFormat::Png), "photo-synth.png");
    EXPECT_EQ(DefaultOutputPath("dir.d/photo.jpg", OutputFormat::Png, true), "photo-filled.png");
}

// A fill names its mask, its source limit and, unless told, PNG outputs.
TEST(SynthOptions, AFillTakesItsMaskAndWritesPng) {
    const Parsed mask = Parse("photo.jpg --fill hole.png --fill-from 12 --seed 3");
    ASSERT_FALSE(mask.exitCode.has_value()) << mask.err;
    EXPECT_TRUE(mask.options.Filling());
    EXPECT_EQ(mask.options.fillMask, "hole.png");
    EXPECT_EQ(mask.options.fillFrom, 12u);
    EXPECT_EQ(mask.options.format, OutputFormat::Png);
    const Parsed clear = Parse("scan.png --fill-transparent --format tga");
    ASSERT_FALSE(clear.exitCode.has_value()) << clear.err;
    EXPECT_TRUE(clear.options.fillTransparent);
    EXPECT_EQ(clear.options.format, OutputFormat::Tga) << "--format is obeyed";
    EXPECT_FALSE(Parse("photo.jpg").options.Filling());
}

}  // namespace
}  // namespace weftloom
