#include "cli/synth_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <limits>
#include <ostream>

namespace weftloom {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads a whole decimal number in [low, high]: digits only, no sign, blank or
// prefix; anything else is an error.
bool ParseNumber(const std::string& text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    return !text.empty() && ec == std::errc() && end == last && value >= low && value <= high;
}

// Why text is not a number option's value, or empty when it is one.
std::string NumberProblem(const char* name, const std::string& text, std::uint64_t low,
                          std::uint64_t high, std::uint64_t& value) {
    if (ParseNumber(text, low, high, value)) {
        return {};
    }
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    const bool digits = !text.empty() && std::all_of(text.begin(), text.end(),
                                                     [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        return std::string(name) + ": " + text + " is out of range; expected " + range;
    }
    return std::string(name) + ": expected a whole number from " + range +
           " in decimal digits, got '" + text + "'";
}

// A byte count: decimal digits, then K, M, G or T (powers of 1024), optionally
// followed by "B" or "iB"; plain digits are bytes.
bool ParseByteSize(const std::string& text, std::uint64_t& bytes) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    std::uint64_t value = 0;
    if (!ParseNumber(text.substr(0, digits), 1, std::numeric_limits<std::uint64_t>::max(), value)) {
        return false;
    }
    const std::string unit = Lower(text.substr(digits));
    int shift = 0;
    if (!unit.empty() && unit != "b") {
        const std::size_t at = std::string("kmgt").find(unit[0]);
        const std::string rest = unit.substr(1);
        if (at == std::string::npos || !(rest.empty() || rest == "b" || rest == "ib")) {
            return false;
        }
        shift = 10 * static_cast<int>(at + 1);
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() >> shift)) {
        return false;
    }
    bytes = value << shift;
    return true;
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
constexpr Word<ProgressMode> kProgressWords[] = {
    {ProgressMode::Auto, "auto"}, {ProgressMode::Log, "log"}, {ProgressMode::None, "none"}};

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
        "Grows a texture that looks like SAMPLE (a TGA, JPEG or PNG picture) and writes it "
        "as a TGA or PNG file; several samples are grown one after the other.",
        kSynthProgramName};
    app.set_version_flag("--version", std::string(kSynthProgramName) + " " WEFTLOOM_VERSION);
    app.get_formatter()->column_width(24);

    SynthesisSettings& settings = options.settings;
    const SynthesisSettings defaults;
    std::string size;
    std::string accuracy;
    std::string subsampling = WordFor(kSubsamplingWords, settings.subsamplingMode);
    std::string metric = WordFor(kMetricWords, settings.metric);
    std::string search = WordFor(kSearchWords, settings.searchMethod);
    std::string maxMemory;
    std::string progress = WordFor(kProgressWords, options.progress);
    const std::string accuracyDefault =
        std::string(WordFor(kAccuracyWords, defaults.levelAccuracy[0])) + "," +
        WordFor(kAccuracyWords, defaults.levelAccuracy[1]) + "," +
        WordFor(kAccuracyWords, defaults.levelAccuracy[2]);

    // Numbers are read as text and checked here, so that only decimal digits
    // count and a range error names the range.
    struct NumberOption {
        const char* name;
        const char* help;
        const char* typeName;
        std::uint64_t low, high, fallback;
        std::string text{};
        CLI::Option* option{};
        std::uint64_t value{};
    };
    NumberOption numbers[] = {
        {"--count", "points a subsampled search aims at in mode count", "N", 1, 2147483647,
         static_cast<std::uint64_t>(defaults.subsampleCount)},
        {"--percent", "percent of the cloud in mode percent", "P", 1, 100,
         defaults.subsamplePercent},
        {"--min-pixels", "mode percent applies from this cloud size on", "M", 0, 4294967295,
         defaults.minimumPixelCount},
        {"--seed", "starting state of the run's random generator", "N", 0, 4294967295,
         defaults.randomSeed},
        {"--threads", "threads to search with; 0: every core; the output is the same for any", "N",
         0, kMaxThreads, defaults.threadCount},
        {"--similar", "coherent: look-alike sample positions kept per position (k)", "K", 0,
         kMaxSimilar, defaults.coherenceSetSize},
        {"--corrections", "coherent: passes over each level with whole neighbourhoods", "N", 0,
         kMaxCorrections, defaults.correctionPasses},
        {"--random-tries", "coherent: random sample positions each pixel also tries", "N", 0,
         kMaxRandomTries, defaults.randomCandidates},
        {"--spread",
         "coherent: how strongly sample positions already used are avoided; 16: one mean "
         "distance per even share of uses, 0: not at all",
         "W", 0, kMaxSpread, defaults.occurrenceWeight},
        {"--max-piece", "coherent: largest piece copied verbatim, in percent of the sample", "P", 1,
         100, defaults.pieceLimitPercent},
    };
    const auto number = [&numbers](const char* name) -> NumberOption& {
        for (NumberOption& n : numbers) {
            if (std::string(n.name) == name) {
                return n;
            }
        }
        return numbers[0];
    };

    app.add_option("SAMPLE", options.samples,
                   "the sample picture (TGA, JPEG or PNG); several: one texture each")
        ->required()
        ->type_name("");
    CLI::Option* output =
        app.add_option("-o,--output", options.output,
                       "the texture to write (.png: PNG, otherwise TGA); a folder: <sample "
                       "name>-synth.tga in it; default: <sample name>-synth.tga here")
            ->type_name("FILE");
    CLI::Option* folderOption =
        app.add_option("-O,--output-dir", options.outputFolder,
                       "the folder every texture goes to, as <sample name>-synth.tga (made "
                       "when missing); for several samples")
            ->type_name("FOLDER");
    CLI::Option* sizeOption =
        app.add_option("-s,--size", size,
                       "output size; default: the sample's size; each side 1..65535")
            ->type_name("WxH");
    app.add_option(
           "--accuracy", accuracy,
           "Level 1, Level 2, Level 3 accuracy: high|medium|low each" + Default(accuracyDefault))
        ->type_name("A1,A2,A3");
    app.add_option("--subsampling", subsampling,
                   std::string("off | percent | count") +
                       Default(WordFor(kSubsamplingWords, defaults.subsamplingMode)))
        ->type_name("MODE");
    const auto addNumber = [&app, &number](const char* name) {
        NumberOption& n = number(name);
        n.option =
            app.add_option(n.name, n.text, n.help + Default(n.fallback))->type_name(n.typeName);
    };
    addNumber("--count");
    addNumber("--percent");
    addNumber("--min-pixels");
    app.add_option("--metric", metric,
                   std::string("l1 | l2 | linf") + Default(WordFor(kMetricWords, defaults.metric)))
        ->type_name("METRIC");
    addNumber("--seed");
    addNumber("--threads");
    app.add_option("--search", search,
                   std::string("exact: the nearest neighbourhood (the subsampling options "
                               "apply); coherent: a few candidates per pixel from where its "
                               "neighbours came from; tiles, keeps more of the sample, much "
                               "faster") +
                       Default(WordFor(kSearchWords, defaults.searchMethod)))
        ->type_name("exact|coherent");
    addNumber("--similar");
    addNumber("--corrections");
    addNumber("--random-tries");
    addNumber("--spread");
    addNumber("--max-piece");
    CLI::Option* memoryOption =
        app.add_option("--max-memory", maxMemory,
                       "refuse a run estimated to need more than this (512M, 4G, ...); "
                       "default: the machine's memory")
            ->type_name("SIZE");
    app.add_flag("--force", options.force, "replace the output even when it is read-only");
    app.add_flag("--no-clobber", options.noClobber, "never replace an existing output");
    app.add_option("--progress", progress,
                   "auto: a redrawn line on a terminal; log: a plain line per phase; none" +
                       Default(WordFor(kProgressWords, ProgressMode::Auto)))
        ->type_name("MODE");
    app.add_flag("-q,--quiet", options.quiet, "no progress display");

    auto usageError = [&err](const std::string& message) {
        err << kSynthProgramName << ": " << message << " (see --help)\n";
        return std::optional<int>(kExitUsage);
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitSuccess;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return kExitSuccess;
    } catch (const CLI::RequiredError&) {
        return usageError("no SAMPLE given: name the picture to grow a texture from");
    } catch (const CLI::ExtrasError&) {
        const std::vector<std::string> extras = app.remaining();
        const std::string first = extras.empty() ? std::string() : extras.front();
        if (first.size() > 1 && first[0] == '-') {
            return usageError("unknown option '" + first.substr(0, first.find('=')) + "'");
        }
        return usageError("'" + first + "' is not understood");
    } catch (const CLI::ArgumentMismatch& e) {
        // Either an option given twice or one whose value is missing.
        for (const CLI::Option* option : app.get_options()) {
            if (option->count() > 1 && !option->get_type_name().empty()) {
                return usageError(option->get_name() + " is given more than once");
            }
        }
        const std::string what = e.what();
        return usageError(what.substr(0, what.find(':')) + " needs a value");
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    if (output->count() != 0 && options.output.empty()) {
        return usageError("--output: the file name is empty");
    }
    if (folderOption->count() != 0 && options.outputFolder.empty()) {
        return usageError("--output-dir: the folder name is empty");
    }
    if (output->count() != 0 && folderOption->count() != 0) {
        return usageError("-o names one texture and -O a folder for all; give one of them");
    }
    if (output->count() != 0 && options.samples.size() > 1) {
        return usageError("-o names the texture of one sample; for " +
                          std::to_string(options.samples.size()) +
                          " samples, -O FOLDER says where they go");
    }
    options.sample = options.samples.front();
    if (sizeOption->count() != 0) {
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
    for (NumberOption& n : numbers) {
        n.value = n.fallback;
        if (n.option->count() != 0) {
            if (std::string problem = NumberProblem(n.name, n.text, n.low, n.high, n.value);
                !problem.empty()) {
                return usageError(problem);
            }
        }
    }
    if (memoryOption->count() != 0 && !ParseByteSize(maxMemory, options.maxMemory)) {
        return usageError(
            "--max-memory: expected a size such as 512M or 4G (decimal digits, "
            "then K, M, G or T), got '" +
            maxMemory + "'");
    }
    if (!ValueFor(kProgressWords, progress, options.progress)) {
        return usageError("--progress: '" + progress + "' is not auto, log or none");
    }
    if (options.force && options.noClobber) {
        return usageError("--force and --no-clobber contradict each other; give one");
    }
    settings.subsampleCount = static_cast<std::int32_t>(number("--count").value);
    settings.subsamplePercent = static_cast<std::uint32_t>(number("--percent").value);
    settings.minimumPixelCount = static_cast<std::uint32_t>(number("--min-pixels").value);
    settings.randomSeed = static_cast<std::uint32_t>(number("--seed").value);
    settings.threadCount = static_cast<std::uint32_t>(number("--threads").value);
    settings.coherenceSetSize = static_cast<std::uint32_t>(number("--similar").value);
    settings.correctionPasses = static_cast<std::uint32_t>(number("--corrections").value);
    settings.randomCandidates = static_cast<std::uint32_t>(number("--random-tries").value);
    settings.occurrenceWeight = static_cast<std::uint32_t>(number("--spread").value);
    settings.pieceLimitPercent = static_cast<std::uint32_t>(number("--max-piece").value);
    return std::nullopt;
}

}  // namespace weftloom
