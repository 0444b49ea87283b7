#include "cli/synth_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <ostream>

namespace weftloom {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads a whole decimal number in [low, high]; anything else is an error.
bool ParseNumber(const std::string& text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    return !text.empty() && ec == std::errc() && end == last && value >= low && value <= high;
}

std::string ParseSize(const std::string& text, SynthOptions& options) {
    const std::string lower = Lower(text);
    const auto x = lower.find('x');
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (x == std::string::npos || !ParseNumber(lower.substr(0, x), 1, 65535, width) ||
        !ParseNumber(lower.substr(x + 1), 1, 65535, height)) {
        return "--size: expected WxH with each side 1 to 65535, got '" + text + "'";
    }
    options.width = static_cast<std::uint32_t>(width);
    options.height = static_cast<std::uint32_t>(height);
    return {};
}

// More threads than this help no query; a larger number is a typing error.
constexpr std::uint64_t kMaxThreads = 256;
// Bounds of the coherent search's settings: beyond them a run only slows down.
constexpr std::uint64_t kMaxSimilar = 64;
constexpr std::uint64_t kMaxCorrections = 16;
constexpr std::uint64_t kMaxRandomTries = 64;
constexpr std::uint64_t kMaxSpread = 1024;

// The words the options use for an enum's values, in the order help lists them.
template <class E>
struct Word {
    E value;
    const char* text;
};

constexpr Word<Accuracy> kAccuracyWords[] = {
    {Accuracy::High, "high"}, {Accuracy::Medium, "medium"}, {Accuracy::Low, "low"}};
constexpr Word<SubsamplingMode> kSubsamplingWords[] = {{SubsamplingMode::Disabled, "off"},
                                                       {SubsamplingMode::Percentage, "percent"},
                                                       {SubsamplingMode::FixedCount, "count"}};
constexpr Word<SearchMethod> kSearchWords[] = {{SearchMethod::Exact, "exact"},
                                               {SearchMethod::Coherent, "coherent"}};
constexpr Word<DistanceMetric> kMetricWords[] = {
    {DistanceMetric::L1, "l1"}, {DistanceMetric::L2, "l2"}, {DistanceMetric::Linf, "linf"}};

template <class E, std::size_t N>
const char* WordFor(const Word<E> (&words)[N], E value) {
    for (const Word<E>& word : words) {
        if (word.value == value) {
            return word.text;
        }
    }
    return "?";
}

// Reads a word (any case) of the table into value; false when it is none of them.
template <class E, std::size_t N>
bool ValueFor(const Word<E> (&words)[N], const std::string& text, E& value) {
    const std::string lower = Lower(text);
    for (const Word<E>& word : words) {
        if (lower == word.text) {
            value = word.value;
            return true;
        }
    }
    return false;
}

std::string ParseAccuracy(const std::string& text, SynthesisSettings& settings) {
    std::array<Accuracy, 3> levels{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 2) == (comma == std::string::npos)) {
            return "--accuracy: expected three of high|medium|low separated by commas, got '" +
                   text + "'";
        }
        const std::string word = text.substr(start, comma - start);
        if (!ValueFor(kAccuracyWords, word, levels[i])) {
            return "--accuracy: '" + Lower(word) + "' is not high, medium or low";
        }
        start = comma + 1;
    }
    settings.levelAccuracy = levels;
    return {};
}

// " (default X)" for a help line.
template <class T>
std::string Default(const T& value) {
    return " (default " + std::string(value) + ")";
}

std::string Default(std::uint64_t value) {
    return Default(std::to_string(value));
}

}  // namespace

std::string AccuracyName(Accuracy accuracy) {
    return WordFor(kAccuracyWords, accuracy);
}

std::string DefaultOutputPath(const std::string& samplePath) {
    return std::filesystem::path(samplePath).stem().string() + "-synth.tga";
}

std::optional<int> ParseSynthOptions(int argc, const char* const* argv, SynthOptions& options,
                                     std::ostream& out, std::ostream& err) {
    CLI::App app{
        "Grows a texture that looks like SAMPLE (a TGA or JPEG picture) and writes it "
        "as a TGA file.",
        kSynthProgramName};
    app.set_version_flag("--version", std::string(kSynthProgramName) + " " WEFTLOOM_VERSION);
    app.get_formatter()->column_width(24);

    SynthesisSettings& settings = options.settings;
    const SynthesisSettings defaults;
    std::string size;
    std::string accuracy;
    std::string subsampling = WordFor(kSubsamplingWords, settings.subsamplingMode);
    std::string metric = WordFor(kMetricWords, settings.metric);
    std::uint64_t count = static_cast<std::uint64_t>(settings.subsampleCount);
    std::uint64_t percent = settings.subsamplePercent;
    std::uint64_t minPixels = settings.minimumPixelCount;
    std::uint64_t seed = settings.randomSeed;
    std::uint64_t threads = settings.threadCount;
    std::string search = WordFor(kSearchWords, settings.searchMethod);
    std::uint64_t similar = settings.coherenceSetSize;
    std::uint64_t corrections = settings.correctionPasses;
    std::uint64_t randomTries = settings.randomCandidates;
    std::uint64_t spread = settings.occurrenceWeight;
    std::uint64_t pieces = settings.pieceLimitPercent;
    const std::string accuracyDefault =
        std::string(WordFor(kAccuracyWords, defaults.levelAccuracy[0])) + "," +
        WordFor(kAccuracyWords, defaults.levelAccuracy[1]) + "," +
        WordFor(kAccuracyWords, defaults.levelAccuracy[2]);

    app.add_option("SAMPLE", options.sample, "the sample picture (.tga, .jpg or .jpeg)")
        ->required()
        ->type_name("");
    app.add_option("-o,--output", options.output,
                   "the texture to write (TGA); default: <sample name>-synth.tga here")
        ->type_name("FILE");
    app.add_option("-s,--size", size, "output size; default: the sample's size; each side 1..65535")
        ->type_name("WxH");
    app.add_option(
           "--accuracy", accuracy,
           "Level 1, Level 2, Level 3 accuracy: high|medium|low each" + Default(accuracyDefault))
        ->type_name("A1,A2,A3");
    app.add_option("--subsampling", subsampling,
                   std::string("off | percent | count") +
                       Default(WordFor(kSubsamplingWords, defaults.subsamplingMode)))
        ->type_name("MODE");
    app.add_option("--count", count,
                   "points a subsampled search aims at in mode count" +
                       Default(static_cast<std::uint64_t>(defaults.subsampleCount)))
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{2147483647}).description(""));
    app.add_option("--percent", percent,
                   "percent of the cloud in mode percent" +
                       Default(std::uint64_t{defaults.subsamplePercent}))
        ->type_name("P")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{100}).description(""));
    app.add_option("--min-pixels", minPixels,
                   "mode percent applies from this cloud size on" +
                       Default(std::uint64_t{defaults.minimumPixelCount}))
        ->type_name("M")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{4294967295}).description(""));
    app.add_option("--metric", metric,
                   std::string("l1 | l2 | linf") + Default(WordFor(kMetricWords, defaults.metric)))
        ->type_name("METRIC");
    app.add_option("--seed", seed,
                   "starting state of the run's random generator" +
                       Default(std::uint64_t{defaults.randomSeed}))
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{4294967295}).description(""));
    app.add_option("--threads", threads,
                   "threads to search with; 0: every core; the output is the same for any" +
                       Default(std::uint64_t{defaults.threadCount}))
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{kMaxThreads}).description(""));
    app.add_option("--search", search,
                   std::string("exact: the nearest neighbourhood (the subsampling options "
                               "apply); coherent: a few candidates per pixel from where its "
                               "neighbours came from; tiles, keeps more of the sample, much "
                               "faster") +
                       Default(WordFor(kSearchWords, defaults.searchMethod)))
        ->type_name("exact|coherent");
    app.add_option("--similar", similar,
                   "coherent: look-alike sample positions kept per position (k)" +
                       Default(std::uint64_t{defaults.coherenceSetSize}))
        ->type_name("K")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{kMaxSimilar}).description(""));
    app.add_option("--corrections", corrections,
                   "coherent: passes over each level with whole neighbourhoods" +
                       Default(std::uint64_t{defaults.correctionPasses}))
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{kMaxCorrections}).description(""));
    app.add_option("--random-tries", randomTries,
                   "coherent: random sample positions each pixel also tries" +
                       Default(std::uint64_t{defaults.randomCandidates}))
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{kMaxRandomTries}).description(""));
    app.add_option("--spread", spread,
                   "coherent: how strongly sample positions already used are avoided; 16: "
                   "one mean distance per even share of uses, 0: not at all" +
                       Default(std::uint64_t{defaults.occurrenceWeight}))
        ->type_name("W")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{kMaxSpread}).description(""));
    app.add_option("--max-piece", pieces,
                   "coherent: largest piece copied verbatim, in percent of the sample" +
                       Default(std::uint64_t{defaults.pieceLimitPercent}))
        ->type_name("P")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{100}).description(""));
    app.add_flag("-q,--quiet", options.quiet, "no progress display");

    auto usageError = [&err](const std::string& message) {
        err << kSynthProgramName << ": " << message << " (see --help)\n";
        return std::optional<int>(2);
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    if (!size.empty()) {
        if (std::string problem = ParseSize(size, options); !problem.empty()) {
            return usageError(problem);
        }
    }
    if (!accuracy.empty()) {
        if (std::string problem = ParseAccuracy(accuracy, settings); !problem.empty()) {
            return usageError(problem);
        }
    }
    if (!ValueFor(kSubsamplingWords, subsampling, settings.subsamplingMode)) {
        return usageError("--subsampling: '" + subsampling + "' is not off, percent or count");
    }
    if (!ValueFor(kMetricWords, metric, settings.metric)) {
        return usageError("--metric: '" + metric + "' is not l1, l2 or linf");
    }
    if (!ValueFor(kSearchWords, search, settings.searchMethod)) {
        return usageError("--search: '" + search + "' is not exact or coherent");
    }
    settings.coherenceSetSize = static_cast<std::uint32_t>(similar);
    settings.correctionPasses = static_cast<std::uint32_t>(corrections);
    settings.randomCandidates = static_cast<std::uint32_t>(randomTries);
    settings.occurrenceWeight = static_cast<std::uint32_t>(spread);
    settings.pieceLimitPercent = static_cast<std::uint32_t>(pieces);
    settings.subsampleCount = static_cast<std::int32_t>(count);
    settings.subsamplePercent = static_cast<std::uint32_t>(percent);
    settings.minimumPixelCount = static_cast<std::uint32_t>(minPixels);
    settings.randomSeed = static_cast<std::uint32_t>(seed);
    settings.threadCount = static_cast<std::uint32_t>(threads);
    return std::nullopt;
}

}  // namespace weftloom
